// The technician's tools around the specified window: the log's switches and recording,
// polling, reconnecting, and what the window does when its port goes away. With all of
// them off the window is as specified.
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>
#include <QTime>
#include <QTimer>
#include <cstdio>

#include "app/choosers.h"
#include "app/error_display.h"
#include "app/func_p.h"
#include "app/log_document.h"
#include "app/log_menu.h"
#include "app/log_view.h"
#include "app/log_writer.h"
#include "app/main_window.h"
#include "app/port_trouble.h"
#include "cport/errors.h"
#include "platform/comm/comm.h"
#include "platform/comm/network/network_port_name.h"
#include "platform/profile/ini_file.h"

namespace console {
namespace {

// HH:mm:ss.zzz, without a string of its own per line.
std::string_view Timestamp(char (&room)[32]) {
  const QTime now = QTime::currentTime();
  const int n = std::snprintf(room, sizeof room, "%02d:%02d:%02d.%03d", now.hour(), now.minute(),
                              now.second(), now.msec());
  return std::string_view(room, static_cast<size_t>(n));
}

}  // namespace

void TVex_ComTestF::LoadOptions() {
  options_ = LoadLogOptions(settingsFile_);
  if (!options_.recordFile.empty()) StartRecording(options_.recordFile);
  UpdateStatusTip();
}

// The switches are kept in memory whatever happens; a file that cannot take them is said
// once a run, by whichever box comes first.
std::string TVex_ComTestF::SaveOptionsQuietly() {
  std::string failure;
  try {
    SaveLogOptions(settingsFile_, options_);
  } catch (const std::exception& e) {
    if (!settingsUnwritableTold_) failure = ErrorDisplayText(e.what());
    settingsUnwritableTold_ = true;
  }
  UpdateStatusTip();
  return failure;
}

void TVex_ComTestF::SaveOptions() {
  const std::string failure = SaveOptionsQuietly();
  if (!failure.empty()) {
    funcp::ShowMessageBox(failure + "\nThe switches last until the console ends.", "통신Test",
                          funcp::MB_ICONERROR);
  }
}

void TVex_ComTestF::UpdateStatusTip() {
  std::string tip = "Settings: " + settingsFile_;
  if (recorder_.Recording()) tip += "\nRecording to: " + recorder_.Path();
  statusBar()->setToolTip(QString::fromStdString(tip));
}

// The line reaches the log before anything can go wrong with its recording, and a failed
// recording is told once the frame path has ended, so the log keeps the order of events.
void TVex_ComTestF::AddLog(std::string_view label, std::string_view bytes, bool now) {
  char stamp[32];
  FormatLogLine(lineBuf_, label, bytes, options_, options_.timestamps ? Timestamp(stamp) : "");
  if (now) {
    log_->AddNow(lineBuf_);
  } else {
    log_->AddBatched(lineBuf_);
  }
  LogRecorder::Failure failure;
  if (!recorder_.Write(lineBuf_, failure)) RecordingFailed(failure);
}

QMenu* TVex_ComTestF::LogMenu() {
  LogMenuActions actions;
  actions.cut = [this] { log_->Edit([](LogDocument& document) { document.cut(); }); };
  actions.copy = [this] { log_->Copy(); };
  actions.paste = [this] { log_->Edit([](LogDocument& document) { document.paste(); }); };
  actions.erase = [this] {
    log_->Edit([](LogDocument& document) { document.textCursor().removeSelectedText(); });
  };
  actions.selectAll = [this] { log_->SelectAll(); };
  actions.setTimestamps = [this](bool on) {
    options_.timestamps = on;
    SaveOptions();
  };
  actions.setControlBytes = [this](ControlBytes mode) {
    options_.controlBytes = mode;
    SaveOptions();
  };
  actions.setRecording = [this](bool on) { SetRecording(on); };
  actions.copyAll = [this] { CopyAll(); };
  actions.saveAs = [this] { SaveLogAs(); };
  actions.setPolling = [this](bool on) { SetPolling(on); };
  actions.choosePollInterval = [this] { ChoosePollInterval(); };
  actions.setReconnect = [this](bool on) { SetReconnect(on); };
  actions.setNetworkPorts = [this](bool on) { SetNetworkPorts(on); };
  LogMenuState state;
  state.picked = log_->Picked();
  state.canPaste = !QGuiApplication::clipboard()->text().isEmpty();
  return BuildLogMenu(memo1_, state, options_, recorder_.Recording(), Polling(), actions);
}

void TVex_ComTestF::ShowLogMenu(QAbstractScrollArea* log, const QPoint& at) {
  QMenu* menu = LogMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(log->viewport()->mapToGlobal(at));
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
  if (recorder_.Start(path, reason)) {
    options_.recordFile = path;
    SaveOptions();
    return;
  }
  options_.recordFile.clear();
  const std::string unsaved = SaveOptionsQuietly();
  funcp::ShowMessageBox("Recording to " + path + " could not start: " + reason +
                            ". Nothing was recorded." + (unsaved.empty() ? "" : "\n" + unsaved),
                        "경고", funcp::MB_ICONWARNING);
}

// Said once, after the line that failed is in the log.
void TVex_ComTestF::RecordingFailed(const LogRecorder::Failure& failure) {
  const std::string path = recorder_.Path();
  options_.recordFile.clear();
  const std::string unsaved = SaveOptionsQuietly();
  std::string text = "Recording to " + path + " stopped: " + failure.reason + ".";
  if (failure.empty) {
    text += " Nothing was recorded.";
  } else if (!failure.fileGone) {
    text += " What was logged before is in the file.";
  }
  if (!unsaved.empty()) text += "\n" + unsaved;
  QTimer::singleShot(0, this,
                     [text] { funcp::ShowMessageBox(text, "경고", funcp::MB_ICONWARNING); });
}

void TVex_ComTestF::CopyAll() { QGuiApplication::clipboard()->setText(log_->Text()); }

void TVex_ComTestF::SaveLogAs() {
  const std::string path = ChooseSaveFile("Save the log as");
  if (path.empty()) return;
  saver_.Save(path, log_->Bytes(), [](const std::string& error) {
    if (!error.empty()) funcp::ShowMessageBox(error, "경고", funcp::MB_ICONWARNING);
  });
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
// another while the box is up. A write that failed tells of a lost port as its loss would.
void TVex_ComTestF::PollOnce() {
  try {
    if (SendCommand()) return;
    StopPolling();
    funcp::ShowMessageBox("통신 불량", "경고", funcp::MB_ICONERROR);
  } catch (...) {
    StopPolling();
    lossBoxUp_ = true;
    ShowErrorBox(std::current_exception(),
                 WhyPortWasLost(comPort1_.Port(), std::current_exception()));
    lossBoxUp_ = false;
  }
}

void TVex_ComTestF::ChoosePollInterval() {
  if (const auto ms = console::ChoosePollInterval(options_.pollIntervalMs)) {
    options_.pollIntervalMs = *ms;
    pollTimer_.setInterval(*ms);
    SaveOptions();
  }
}

// Turned on while the port is down (it failed to open, or was lost), it starts looking.
void TVex_ComTestF::SetReconnect(bool on) {
  options_.reconnect = on;
  if (!on) DisarmReconnect();
  if (on && !comPort1_.Connected()) ArmReconnect();
  SaveOptions();
}

void TVex_ComTestF::SetNetworkPorts(bool on) {
  options_.networkPorts = on;
  SaveOptions();
}

bool TVex_ComTestF::OnNetworkPort() const { return platform::IsNetworkPortName(comPort1_.Port()); }

// An adapter is watched for; a network port has nothing to watch, and is tried again.
void TVex_ComTestF::ArmReconnect() {
  if (OnNetworkPort()) {
    connect(&retry_, &NetworkRetry::Due, this, &TVex_ComTestF::Reconnect, Qt::UniqueConnection);
    retry_.Arm();
    return;
  }
  connect(&watch_, &AdapterWatch::Returned, this, &TVex_ComTestF::Reconnect, Qt::UniqueConnection);
  watch_.Arm();
}

void TVex_ComTestF::DisarmReconnect() {
  watch_.Disarm();
  retry_.Disarm();
}

// A converter that needs RTS to turn around will not answer when the driver cannot toggle it.
void TVex_ComTestF::ShowReady() {
  SetPanel(0, "대기중",
           comPort1_.RtsHeldOn()
               ? "This driver cannot switch RTS for each transmission: RTS stays on."
               : "");
}

// Every open starts with an empty frame: bytes cut off by an unplug or a reopen are not
// glued to what comes after it. What identifies the adapter is taken while it is there; a
// network port joins those used before.
void TVex_ComTestF::PortOpened() {
  frames_.Restart(frameSink_);
  DisarmReconnect();
  if (!OnNetworkPort()) {
    watch_.Remember(platform::DevicePathForPort(comPort1_.Port()));
    return;
  }
  const auto& used = options_.networkPortsUsed;
  if (!used.empty() && used.front() == comPort1_.Port()) return;
  RememberNetworkPort(options_, comPort1_.Port());
  SaveOptions();
}

void TVex_ComTestF::OpenFailed() {
  if (!OnNetworkPort()) watch_.Remember(platform::DevicePathForPort(comPort1_.Port()));
  if (options_.reconnect) ArmReconnect();
}

// The port no longer delivers anything: it is closed, which frees its device for the
// adapter's return, and said once instead of standing by in silence. Polling stops first,
// so that no tick adds its own failure while the box is up.
void TVex_ComTestF::PortLost(std::exception_ptr error) {
  StopPolling();
  const std::string why = WhyPortWasLost(comPort1_.Port(), error);
  CloseLostPort();
  SetPanel(0, "ERROR", why);
  if (options_.reconnect) ArmReconnect();
  lossBoxUp_ = true;
  ShowErrorBox(error, why);
  lossBoxUp_ = false;
}

void TVex_ComTestF::CloseLostPort() {
  try {
    comPort1_.ClosePort();
  } catch (const cport::EComPort&) {
    // The loss is what the operator is told; the settings button closes what is left.
  }
}

// The adapter or the server is back: the port opens again by itself and the box about
// its loss goes. A node that is there but not yet usable leaves the watch armed for the
// next change; a server that does not take the connection yet is tried again later.
void TVex_ComTestF::Reconnect() {
  try {
    if (comPort1_.Connected()) comPort1_.ClosePort();
    comPort1_.OpenPort();
  } catch (...) {
    retry_.TryFailed();
    return;
  }
  PortOpened();
  ShowReady();
  if (lossBoxUp_) funcp::CloseMessageBox();
}

}  // namespace console
