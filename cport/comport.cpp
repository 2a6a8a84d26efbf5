#include "cport/comport.h"

#include "cport/com_thread.h"
#include "cport/errors.h"
#include "platform/process/error_display.h"
#include "platform/windows.h"

namespace cport {
namespace {

constexpr char kDevicePrefix[] = "\\\\.\\";

std::function<void(TCustomComPort&)>& SetupDialogRunner() {
  static std::function<void(TCustomComPort&)> runner;
  return runner;
}

}  // namespace

void TCustomComPort::SetSetupDialogRunner(std::function<void(TCustomComPort&)> runner) {
  SetupDialogRunner() = std::move(runner);
}

void TCustomComPort::RunSetupDialog() {
  if (!SetupDialogRunner()) throw std::logic_error("No setup dialog is installed");
  SetupDialogRunner()(*this);
}

TCustomComPort::TCustomComPort() : self_(std::make_shared<TCustomComPort*>(this)) {
  parity_.AttachTo(this);
  flowControl_.AttachTo(this);
  timeouts_.AttachTo(this);
  buffer_.AttachTo(this);
}

// A close that fails here (the purge refused) still must not leave a thread or a device
// behind: the port is going away either way.
TCustomComPort::~TCustomComPort() {
  *self_ = nullptr;
  auto notifications = std::move(freeNotifications_);
  for (auto& [id, notify] : notifications) notify(this);
  try {
    ClosePort();
  } catch (...) {
    platform::ShowError(std::current_exception());
    StopEventThread();
    CloseDeviceHandle();
    connected_ = false;
  }
}

void TCustomComPort::AfterLoad() {
  loading_ = false;
  if (!connected_) return;
  connected_ = false;
  try {
    OpenPort();
  } catch (...) {
    platform::ShowError(std::current_exception());
  }
}

int TCustomComPort::AddFreeNotification(std::function<void(TCustomComPort*)> notify) {
  const int id = ++nextNotificationId_;
  freeNotifications_.emplace(id, std::move(notify));
  return id;
}

void TCustomComPort::RemoveFreeNotification(int id) { freeNotifications_.erase(id); }

void TCustomComPort::SetConnected(bool value) {
  if (loading_) {
    connected_ = value;
  } else if (value != connected_) {
    if (value) {
      OpenPort();
    } else {
      ClosePort();
    }
  }
}

template <typename T>
void TCustomComPort::ChangeLineSetting(T& field, T value) {
  if (field == value) return;
  field = value;
  ApplyLineControl();
}

void TCustomComPort::SetBaudRate(TBaudRate value) { ChangeLineSetting(baudRate_, value); }
void TCustomComPort::SetCustomBaudRate(int32_t value) { ChangeLineSetting(customBaudRate_, value); }
void TCustomComPort::SetStopBits(TStopBits value) { ChangeLineSetting(stopBits_, value); }
void TCustomComPort::SetDataBits(TDataBits value) { ChangeLineSetting(dataBits_, value); }
void TCustomComPort::SetDiscardNull(bool value) { ChangeLineSetting(discardNull_, value); }
void TCustomComPort::SetEventChar(char value) { ChangeLineSetting(eventChar_, value); }

// The name is compared exactly: a change of letter case reopens the port.
void TCustomComPort::SetPort(const std::string& value) {
  if (value == port_) return;
  port_ = value;
  if (connected_ && !loading_) {
    ClosePort();
    OpenPort();
  }
}

void TCustomComPort::SetSyncMethod(TSyncMethod value) {
  if (value == syncMethod_) return;
  if (connected_ && !loading_) throw EComPort(peSetWhileConnected);
  syncMethod_ = value;
}

void TCustomComPort::SetParity(const TComParity& value) {
  parity_.Assign(&value);
  ApplyLineControl();
}

void TCustomComPort::SetFlowControl(const TComFlowControl& value) {
  flowControl_.Assign(&value);
  ApplyLineControl();
}

void TCustomComPort::SetTimeouts(const TComTimeouts& value) {
  timeouts_.Assign(&value);
  ApplyTimeoutValues();
}

void TCustomComPort::SetBuffer(const TComBuffer& value) {
  buffer_.Assign(&value);
  ApplyQueueSizes();
}

void TCustomComPort::OpenPort() {
  if (connected_) return;
  ReapEndedThreads();
  closedByHandler_ = false;
  HandleBeforeOpen();
  OpenDeviceHandle();
  connected_ = true;
  try {
    ApplySettings();
    StartEventThread();
  } catch (...) {
    CloseDeviceHandle();
    connected_ = false;
    throw;
  }
  HandleAfterOpen();
}

// A failure to create the hidden window or the thread cleans up as a failed apply does.
void TCustomComPort::StartEventThread() {
  threadCreated_ = false;
  if (events_.Empty()) return;
  try {
    if (syncMethod_ == smWindowSync) {
      window_ = CreateMessageWindow(
          [this](HWND w, UINT m, WPARAM wp, LPARAM lp) { return PortWindowProc(w, m, wp, lp); });
    }
    eventThread_ = std::make_unique<TComThread>(this, ++threadGeneration_);
    threadCreated_ = true;
  } catch (...) {
    StopEventThread();
    throw;
  }
}

// A handler that closes the port cannot wait for its own batch to end: its thread is
// stopped without it and kept until the batch has unwound.
void TCustomComPort::StopEventThread() {
  if (eventThread_ && eventThread_->HandlerRunningHere()) {
    closedByHandler_ = true;
    eventThread_->EndFromHandler();
    endedThreads_.push_back(std::move(eventThread_));
  }
  eventThread_.reset();
  threadCreated_ = false;
  if (window_) DestroyMessageWindow(window_);
  window_ = nullptr;
}

// A close asked for while one is under way (by a handler that runs meanwhile) leaves it
// to that one.
void TCustomComPort::ClosePort() {
  if (!connected_ || closing_) return;
  closing_ = true;
  closedByHandler_ = windowHandlers_ > 0;
  struct Done {
    bool& closing;
    ~Done() { closing = false; }
  } done{closing_};
  HandleBeforeClose();
  AbortAllOperations();
  if (threadCreated_) StopEventThread();
  CloseDeviceHandle();
  connected_ = false;
  HandleAfterClose();
}

// Threads ended by a handler go once their thread has finished and no batch of theirs is
// running any more.
void TCustomComPort::ReapEndedThreads() {
  std::erase_if(endedThreads_, [](const std::unique_ptr<TComThread>& t) {
    return t->Finished() && !t->BatchOnStack();
  });
}

void TCustomComPort::OpenDeviceHandle() {
  const std::string name = kDevicePrefix + port_;
  handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) throw EComPort(peOpenPort, static_cast<int>(GetLastError()));
}

void TCustomComPort::CloseDeviceHandle() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

void TCustomComPort::BeginSettingsUpdate() { ++updateCount_; }

void TCustomComPort::EndSettingsUpdate() {
  if (updateCount_ == 0) return;
  if (--updateCount_ == 0) ApplySettings();
}

std::exception_ptr TCustomComPort::EventThreadError() const {
  return eventThread_ ? eventThread_->FatalException() : nullptr;
}

// Runs on the main thread, queued by an event thread that ended on an error; a port that
// was closed (or destroyed) since then is not told about a thread it no longer has.
void TCustomComPort::ReportEventThreadError(uint64_t generation, std::exception_ptr error) {
  if (!connected_ || !threadCreated_ || generation != threadGeneration_) return;
  if (OnEventThreadError) OnEventThreadError(this, error);
}

}  // namespace cport
