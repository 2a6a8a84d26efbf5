// The technician's tools around the specified window: the log's switches and recording,
// polling, reconnecting. With all of them off the window is as specified.
#include <QDateTime>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>

#include "app/choosers.h"
#include "app/func_p.h"
#include "app/log_menu.h"
#include "app/log_writer.h"
#include "app/main_window.h"
#include "platform/comm/comm.h"
#include "platform/process/error_display.h"
#include "platform/profile/ini_file.h"

namespace console {
namespace {

QString Latin1(const std::string& bytes) {
  return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

void TVex_ComTestF::LoadOptions() {
  options_ = LoadLogOptions(settingsFile_);
  if (!options_.recordFile.empty()) StartRecording(options_.recordFile);
  UpdateStatusTip();
}

void TVex_ComTestF::SaveOptions() {
  try {
    SaveLogOptions(settingsFile_, options_);
  } catch (...) {
    platform::ShowError(std::current_exception());
  }
  UpdateStatusTip();
}

void TVex_ComTestF::UpdateStatusTip() {
  std::string tip = "Settings: " + settingsFile_;
  if (recorder_.Recording()) tip += "\nRecording to: " + recorder_.Path();
  statusBar()->setToolTip(QString::fromStdString(tip));
}

void TVex_ComTestF::AddLog(const std::string& bytes, bool now) {
  const std::string stamp =
      QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz")).toStdString();
  const std::string line = FormatLogLine(bytes, options_, stamp);
  std::string reason;
  if (!recorder_.Write(line, reason)) StopRecording(reason);
  if (now) {
    log_->AddNow(Latin1(line));
  } else {
    log_->AddBatched(Latin1(line));
  }
}

QMenu* TVex_ComTestF::LogMenu() {
  LogMenuActions actions;
  actions.setTimestamps = [this](bool on) {
    options_.timestamps = on;
    SaveOptions();
  };
  actions.setControlBytes = [this](ControlBytes mode) {
    options_.controlBytes = mode;
    SaveOptions();
  };
  actions.setRecording = [this](bool on) { SetRecording(on); };
  actions.saveAs = [this] { SaveLogAs(); };
  actions.setPolling = [this](bool on) { SetPolling(on); };
  actions.choosePollInterval = [this] { ChoosePollInterval(); };
  actions.setReconnect = [this](bool on) { SetReconnect(on); };
  return BuildLogMenu(memo1_, options_, recorder_.Recording(), Polling(), actions);
}

void TVex_ComTestF::ShowLogMenu(const QPoint& at) {
  QMenu* menu = LogMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(memo1_->viewport()->mapToGlobal(at));
}

void TVex_ComTestF::SetRecording(bool on) {
  if (!on) {
    recorder_.Stop();
    options_.recordFile.clear();
    SaveOptions();
    return;
  }
  const std::string path = ChooseSaveFile("Record the log to");
  if (path.empty()) return;
  StartRecording(path);
}

void TVex_ComTestF::StartRecording(const std::string& path) {
  std::string reason;
  if (!recorder_.Start(path, reason)) {
    StopRecording(reason);
    return;
  }
  options_.recordFile = path;
  SaveOptions();
}

// Said once; what was recorded before stays in the file.
void TVex_ComTestF::StopRecording(const std::string& reason) {
  const std::string path = recorder_.Recording() ? recorder_.Path() : options_.recordFile;
  recorder_.Stop();
  options_.recordFile.clear();
  SaveOptions();
  funcp::ShowMessageBox(
      "Recording to " + path + " stopped: " + reason + ". What was logged before is in the file.",
      "경고", funcp::MB_ICONWARNING);
}

void TVex_ComTestF::SaveLogAs() {
  const std::string path = ChooseSaveFile("Save the log as");
  if (path.empty()) return;
  log_->Flush();
  QFile file(QString::fromStdString(path));
  const QByteArray bytes = (memo1_->toPlainText() + QLatin1Char('\n')).toLatin1();
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size()) {
    funcp::ShowMessageBox("Unable to write to " + path + ": " + file.errorString().toStdString(),
                          "경고", funcp::MB_ICONWARNING);
  }
}

void TVex_ComTestF::SetPolling(bool on) {
  if (!on) {
    StopPolling();
    return;
  }
  pollTimer_.setInterval(options_.pollIntervalMs);
  connect(&pollTimer_, &QTimer::timeout, this, &TVex_ComTestF::PollOnce, Qt::UniqueConnection);
  pollTimer_.start();
}

void TVex_ComTestF::StopPolling() { pollTimer_.stop(); }

// The first failure stops the polling before its one box, so no timer tick can raise
// another while the box is up.
void TVex_ComTestF::PollOnce() {
  try {
    if (SendCommand()) return;
    StopPolling();
    funcp::ShowMessageBox("통신 불량", "경고", funcp::MB_ICONERROR);
  } catch (...) {
    StopPolling();
    platform::ShowError(std::current_exception());
  }
}

void TVex_ComTestF::ChoosePollInterval() {
  if (const auto ms = console::ChoosePollInterval(options_.pollIntervalMs)) {
    options_.pollIntervalMs = *ms;
    pollTimer_.setInterval(*ms);
    SaveOptions();
  }
}

void TVex_ComTestF::SetReconnect(bool on) {
  options_.reconnect = on;
  if (!on) watch_.Disarm();
  SaveOptions();
}

void TVex_ComTestF::AdapterOpened() {
  watch_.Disarm();
  watch_.Remember(platform::DevicePathForPort(comPort1_.Port()));
  connect(&watch_, &AdapterWatch::Returned, this, &TVex_ComTestF::Reconnect, Qt::UniqueConnection);
}

// The adapter is back: the port opens again by itself. A node that is there but not yet
// usable leaves the watch armed for the next change.
void TVex_ComTestF::Reconnect() {
  try {
    if (comPort1_.Connected()) comPort1_.ClosePort();
    comPort1_.OpenPort();
  } catch (...) {
    return;
  }
  watch_.Disarm();
  SetPanel(0, "대기중");
}

}  // namespace console
