#pragma once

#include <QComboBox>
#include <QMainWindow>
#include <QTimer>
#include <QValidator>
#include <array>
#include <functional>

#include "app/adapter_watch.h"
#include "app/frame_assembler.h"
#include "app/log_options.h"
#include "app/log_recorder.h"
#include "app/log_saver.h"
#include "app/network_retry.h"
#include "cport/comport.h"

class QAbstractScrollArea;
class QFrame;
class QLabel;
class QMenu;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace console {

class LogView;
class LogWriter;

// The command presets' combo box; Qt tells of no closed drop-down list, this one does.
class CommandComboBox : public QComboBox {
  Q_OBJECT

 public:
  using QComboBox::QComboBox;
  void hidePopup() override;

 signals:
  void ClosedUp();
};

// Letters become capitals, typed or pasted.
class UpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override;
};

// The console's window: the command area, the log and the status bar, and the port it
// owns for its whole life.
class TVex_ComTestF : public QMainWindow {
  Q_OBJECT

 public:
  TVex_ComTestF();
  ~TVex_ComTestF() override;

  void StartPort();

  cport::TComPort& ComPort1() { return comPort1_; }
  const FrameAssembler& Frames() const { return frames_; }
  CommandComboBox* ComboBox1() const { return comboBox1_; }
  QLineEdit* EdtData() const { return edtData_; }
  QPushButton* BbtSend() const { return bbtSend_; }
  QPushButton* BitBtn1() const { return bitBtn1_; }
  QPushButton* BbtExit() const { return bbtExit_; }
  QToolButton* SpeedButton1() const { return speedButton1_; }
  LogView* Memo1() const { return memo1_; }
  QString PanelText(int index) const;
  QString PanelTip(int index) const;
  const std::string& SettingsFile() const { return settingsFile_; }
  LogWriter& Log() const { return *log_; }
  // The log's context menu as the operator would get it; the caller owns it.
  QMenu* LogMenu();
  bool Polling() const { return pollTimer_.isActive(); }
  const AdapterWatch& Watch() const { return watch_; }
  const NetworkRetry& Retry() const { return retry_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildCommandArea(QWidget* client);
  void BuildLogArea(QWidget* client);
  void BuildStatusBar();
  void ConfigurePort();
  void LayoutControls();

  void FormShow();
  void ReportUnusableSettingsFile();
  void ComboBox1CloseUp();
  void bbtSendClick();
  bool SendCommand();
  void BitBtn1Click();
  void ComPort1RxChar(int32_t count);
  void LogFrame(const FrameAssembler::Frame& frame);
  void SetPanel(int index, const std::string& text, const std::string& tip = "");
  void ShowPort(const std::string& port);

  // Runs a handler; what it raises goes to the general error display.
  static void Guarded(const std::function<void()>& handler);

  // The technician's tools around the specified window (main_window_tools.cpp).
  void LoadOptions();
  std::string SaveOptionsQuietly();
  void SaveOptions();
  void AddLog(std::string_view label, std::string_view bytes, bool now);
  void ShowLogMenu(QAbstractScrollArea* log, const QPoint& at);
  void SetRecording(bool on);
  void StartRecording(const std::string& path);
  void RecordingFailed(const LogRecorder::Failure& failure);
  void CopyAll();
  void SaveLogAs();
  void SetPolling(bool on);
  void StopPolling();
  void PollOnce();
  void ChoosePollInterval();
  void SetReconnect(bool on);
  void SetNetworkPorts(bool on);
  bool OnNetworkPort() const;
  void ArmReconnect();
  void DisarmReconnect();
  void PortOpened();
  void ShowReady();
  void OpenFailed();
  void PortLost(std::exception_ptr error);
  void CloseLostPort();
  void Reconnect();
  void UpdateStatusTip();

  cport::TComPort comPort1_;
  FrameAssembler frames_;
  FrameAssembler::Sink frameSink_;
  std::string rxBytes_;  // a delivery's room, kept from one to the next
  std::string lineBuf_;  // a log line's room, likewise
  QWidget* client_ = nullptr;
  QFrame* panel1_ = nullptr;
  QWidget* panel2_ = nullptr;
  CommandComboBox* comboBox1_ = nullptr;
  QLineEdit* edtData_ = nullptr;
  QPushButton* bbtSend_ = nullptr;
  QPushButton* bitBtn1_ = nullptr;
  QPushButton* bbtExit_ = nullptr;
  QLabel* label1_ = nullptr;
  QToolButton* speedButton1_ = nullptr;
  LogView* memo1_ = nullptr;
  LogWriter* log_ = nullptr;
  std::array<QLabel*, 4> panels_{};
  bool shown_ = false;
  std::string settingsFile_;
  LogOptions options_;
  bool settingsUnwritableTold_ = false;
  LogRecorder recorder_;
  LogSaver saver_;
  QTimer pollTimer_;
  AdapterWatch watch_;
  NetworkRetry retry_;
  bool lossBoxUp_ = false;  // the box of a loss or a failed open, which a reconnect closes
};

}  // namespace console
