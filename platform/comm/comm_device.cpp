#include "platform/comm/comm_device.h"

#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>

#include "platform/comm/comm_timing.h"
#include "platform/comm/dcb_check.h"
#include "platform/sync/last_error.h"

// Opening and closing the device, and the settings calls.
namespace platform {
namespace {

constexpr size_t kDefaultInputQueue = 4096;
constexpr size_t kMinInputQueue = 64;
constexpr DWORD kMaxQueue = 1u << 24;
constexpr auto kMaxCloseDrain = std::chrono::milliseconds(10000);

DCB DefaultDcb() {
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = 9600;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

}  // namespace

CommDevice::CommDevice(std::unique_ptr<ByteLine> line, bool overlapped)
    : line_(std::move(line)),
      lineWatchesCalls_(line_->WatchesCalls()),
      overlapped_(overlapped),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      unservedFd_(timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK)),
      input_(kDefaultInputQueue),
      dcb_(DefaultDcb()) {
  driver_ = std::thread([this] { Run(); });
}

CommDevice::~CommDevice() { OnClose(); }

// Closing the handle cancels whatever is still pending, as Windows does.
void CommDevice::OnClose() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    EndAllPending(ERROR_OPERATION_ABORTED);
    eventlessDone_.notify_all();
  }
  Wake();
  if (driver_.joinable()) driver_.join();
  std::lock_guard lock(mutex_);
  DetachHelpers();
  if (!gone_) DrainTail();
  line_.reset();
  if (wakeFd_ >= 0) close(wakeFd_);
  if (unservedFd_ >= 0) close(unservedFd_);
  wakeFd_ = unservedFd_ = -1;
}

// Checked under the lock by every call: one that entered before the handle was closed
// leaves with 6 instead of touching the line the close let go of.
DWORD CommDevice::Refusal() const {
  if (stopping_) return ERROR_INVALID_HANDLE;
  return gone_ ? kGoneError : 0;
}

// What was handed to the line goes out before the line is let go, so that its settings
// are put back only after the last stop bit. A USB adapter may count none of it while its
// chip still sends, so the wire time is waited for first.
void CommDevice::DrainTail() {
  const TimePoint deadline = DrainDeadline();
  std::this_thread::sleep_until(std::min(wireFree_, deadline));
  line_->WaitUntilSent(deadline);
}

// Output still on its way gets the time the write timeouts would have given it, or twice
// its wire time where they set none, never more than kMaxCloseDrain.
CommDevice::TimePoint CommDevice::DrainDeadline() const {
  const size_t pending = line_->OutputPending();
  const uint64_t written =
      TotalTimeout(timeouts_.WriteTotalTimeoutMultiplier, timeouts_.WriteTotalTimeoutConstant,
                   static_cast<DWORD>(pending));
  const auto wire = 2 * Millis(uint64_t{pending} * 10 * 1000 / std::max<DWORD>(dcb_.BaudRate, 1));
  const auto limit = written ? Millis(written) : wire + std::chrono::milliseconds(100);
  const TimePoint now = Clock::now();
  return std::min(std::max(now + limit, wireFree_ + std::chrono::milliseconds(100)),
                  now + kMaxCloseDrain);
}

// A line that does not watch calls is not asked, so the call takes the lock only once; it
// then finds a closed device under that lock itself.
DWORD CommDevice::BeginCall(const char* name) {
  if (!lineWatchesCalls_) return 0;
  std::lock_guard lock(mutex_);
  if (stopping_) return ERROR_INVALID_HANDLE;
  return line_->BeginCall(name);
}

BOOL CommDevice::Setup(DWORD inQueue, DWORD outQueue) {
  if (inQueue > kMaxQueue || outQueue > kMaxQueue) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  input_.Resize(std::max<size_t>(inQueue, kMinInputQueue));
  lineReadable_ = true;
  waitersServe_ = false;  // a waiter that found no room polls nothing: the driver looks
  Wake();
  return TRUE;
}

BOOL CommDevice::SetState(const DCB& dcb) {
  if (!IsValidDcb(dcb)) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  if (DWORD err = line_->Configure(dcb)) return FailWith(err);
  dcb_ = dcb;
  line_->SetDtr(dcb.fDtrControl != DTR_CONTROL_DISABLE);
  if (dcb.fRtsControl != RTS_CONTROL_TOGGLE) {
    line_->SetRts(dcb.fRtsControl != RTS_CONTROL_DISABLE);
  } else if (!line_->TogglesRtsItself()) {
    line_->SetRts(transmitting_);
  }
  UpdateInputFlowControl();
  Wake();
  return TRUE;
}

BOOL CommDevice::GetState(DCB& dcb) {
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  dcb = dcb_;
  return TRUE;
}

BOOL CommDevice::SetTimeouts(const COMMTIMEOUTS& timeouts) {
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  timeouts_ = timeouts;
  return TRUE;
}

BOOL CommDevice::GetTimeouts(COMMTIMEOUTS& timeouts) {
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  timeouts = timeouts_;
  return TRUE;
}

}  // namespace platform
