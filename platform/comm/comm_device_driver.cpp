#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include "platform/comm/comm_device.h"
#include "platform/sync/events.h"

// The driver's turn: its thread's poll and what it serves, the waiters that serve the line
// in its place, and how operations end.
namespace platform {
namespace {

constexpr size_t kKeptHelpers = 4;

}  // namespace

// Lets the thread that waits for a pending read or event wait take arriving bytes off the
// line itself, one hand-over fewer than waiting for the driver thread to do it.
class CommDevice::WaiterHelper : public EventHelper {
 public:
  explicit WaiterHelper(std::weak_ptr<CommDevice> device) : device_(std::move(device)) {}
  int PollFd() override {
    auto device = device_.lock();
    return device ? device->WaiterPollFd() : -1;
  }
  void Serve() override {
    if (auto device = device_.lock()) device->ServeWaiter();
  }
  void Unpolled() override {
    if (auto device = device_.lock()) device->WaiterUnpolled();
  }

 private:
  std::weak_ptr<CommDevice> device_;
};

void CommDevice::Run() {
  for (;;) {
    pollfd fds[3];
    nfds_t count = 0;
    int timeout = -1;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      fds[count++] = pollfd{wakeFd_, POLLIN, 0};
      short lineEvents = 0;
      if (!gone_ && input_.Space() > 0 && !WaitersWatchLine()) lineEvents |= POLLIN;
      if (!gone_ && !writes_.empty() && line_->WaitsForPollOut()) lineEvents |= POLLOUT;
      fds[count++] = pollfd{lineEvents ? line_->ReadinessFd() : -1, lineEvents, 0};
      driverPollsInput_ = (lineEvents & POLLIN) != 0;
      fds[count++] = pollfd{gone_ ? -1 : line_->StatusFd(), POLLIN, 0};
      timeout = PollTimeoutMs(Clock::now());
    }
    const int ready = poll(fds, count, timeout);
    std::vector<HANDLE> due;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      // A poll that cannot go on leaves nothing to serve the device: fail it, never hang.
      if (ready < 0 && errno != EINTR) {
        MarkGone();
        return;
      }
      if (fds[0].revents) DrainWake();
      if (fds[1].revents) lineReadable_ = true;
      deferSignals_ = true;
      if (!gone_) Service(Clock::now());
      deferSignals_ = false;
      due.swap(signalsDue_);
    }
    // Signalled after the device lock is released, so that a woken caller does not at once
    // block on it. A caller learns of a completion by its event, as the API requires.
    for (HANDLE event : due) SetEvent(event);
  }
}

// Bytes that arrived since the line was last served are taken on the caller's thread, so
// a wait that they satisfy completes at once instead of after the driver's turn. While
// waiters watch the line, calls that would find the queue short look too. A waiter that
// polls the line at this moment takes them as they come, so asking the line again would
// mostly be a read for nothing.
void CommDevice::TakeWhatArrived() {
  if (gone_ || waitersPolling_ > 0) return;
  lineReadable_ = true;
  Service(Clock::now());
  TellDriverOfRoom();
}

// The helper stays on the event after the operation ends: a caller tends to wait on the
// same event again, and its thread then watches the line in between as well, so that
// the next wait does not have to wake it to tell it about the helper.
void CommDevice::HelpWaiter(OVERLAPPED* overlapped) {
  const HANDLE event = overlapped->hEvent;
  if (!event) return;
  if (!helper_) helper_ = std::make_shared<WaiterHelper>(weak_from_this());
  const auto kept = std::find(helpedEvents_.begin(), helpedEvents_.end(), event);
  if (kept != helpedEvents_.end()) {
    helpedEvents_.erase(kept);
  } else if (helpedEvents_.size() == kKeptHelpers) {
    DetachEventHelper(helpedEvents_.front(), helper_.get());
    helpedEvents_.erase(helpedEvents_.begin());
  }
  helpedEvents_.push_back(event);
  AttachEventHelper(event, helper_);
}

void CommDevice::DetachHelpers() {
  for (HANDLE event : helpedEvents_) DetachEventHelper(event, helper_.get());
  helpedEvents_.clear();
}

bool CommDevice::HelpedOperationPending() const {
  if (wait_ && wait_->overlapped->hEvent) return true;
  return std::any_of(reads_.begin(), reads_.end(),
                     [](const PendingRead& r) { return r.overlapped->hEvent != nullptr; });
}

int CommDevice::WaiterPollFd() {
  std::lock_guard lock(mutex_);
  if (stopping_ || gone_) return -1;
  if (input_.Space() == 0) {
    waitersServe_ = false;  // a waiter that finds no room polls nothing: the driver looks
    return -1;
  }
  ++waitersPolling_;
  return line_->ReadinessFd();
}

// A waiter that leaves while its operation is still pending (its time ran out, another
// event ended its wait) hands the line back to the driver, unless another still polls.
void CommDevice::WaiterUnpolled() {
  std::lock_guard lock(mutex_);
  if (--waitersPolling_ > 0 || !HelpedOperationPending() || !waitersServe_) return;
  waitersServe_ = false;
  Wake();
}

// Once a waiter has served the line, waiters watch it and the driver leaves it to them:
// one poller per descriptor. Bytes that arrive while nobody waits stay in the kernel until
// the next call takes them. Input flow control needs the queue's level as bytes arrive,
// so with it the driver keeps watching.
bool CommDevice::WaitersWatchLine() const {
  const bool flowControlled = dcb_.fInX || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE ||
                              dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
  return waitersServe_ && !flowControlled;
}

// Until the driver leaves the line to the waiters it polls the same descriptor and may
// wake as well; whichever comes first takes the bytes, the other finds none. What is left
// with a deadline is the driver's to time, so it is told to look again.
void CommDevice::ServeWaiter() {
  std::vector<HANDLE> due;
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || gone_) return;
    lineReadable_ = true;
    waitersServe_ = true;
    deferSignals_ = true;
    const TimePoint now = Clock::now();
    Service(now);
    deferSignals_ = false;
    due.swap(signalsDue_);
    if (PollTimeoutMs(now) >= 0) Wake();
    TellDriverOfRoom();
  }
  for (HANDLE event : due) SetEvent(event);
}

int CommDevice::PollTimeoutMs(TimePoint now) const {
  std::optional<TimePoint> next = drainCheck_;
  auto consider = [&](TimePoint t) {
    if (!next || t < *next) next = t;
  };
  if (!reads_.empty()) {
    const PendingRead& r = reads_.front();
    if (r.totalDeadline) consider(*r.totalDeadline);
    if (r.interval && r.done > 0) consider(r.lastByte + *r.interval);
  }
  if (!writes_.empty() && writes_.front().deadline) consider(*writes_.front().deadline);
  if (!next) return -1;
  if (*next <= now) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
  return static_cast<int>(std::min<int64_t>(ms, 1 << 30));
}

void CommDevice::Wake() {
  const uint64_t one = 1;
  if (wakeFd_ >= 0 && write(wakeFd_, &one, sizeof one) < 0) {
    // The counter is already non-zero: the driver is going to wake anyway.
  }
}

void CommDevice::DrainWake() {
  uint64_t value = 0;
  if (read(wakeFd_, &value, sizeof value) < 0) {
    // Nothing to drain.
  }
}

void CommDevice::Service(TimePoint now) {
  TakeFromLine();
  if (gone_) return;
  ServeReads(now);
  PumpOutput();
  ExpireWrites(now);
  CheckTransmitterEmpty(now);
}

// A line tells errors it counted between the bytes only to the device that read them.
void CommDevice::TakeFromLine() {
  PumpInput();
  TakeLineStatus();
}

// Everything pending ends with the code Windows gives for a removed USB serial port, and
// every later call fails with it.
void CommDevice::MarkGone() {
  gone_ = true;
  line_->LetGo();
  EndAllPending(kGoneError);
  drainCheck_.reset();
}

void CommDevice::EndAllPending(DWORD error) {
  for (auto& r : reads_) Complete(r.overlapped, error, r.done);
  for (auto& w : writes_) Complete(w.overlapped, error, w.done);
  if (wait_) Complete(wait_->overlapped, error, 0);
  reads_.clear();
  writes_.clear();
  wait_.reset();
}

void CommDevice::Complete(OVERLAPPED* overlapped, DWORD error, DWORD bytes) {
  std::atomic_ref<ULONG_PTR>(overlapped->InternalHigh).store(bytes, std::memory_order_relaxed);
  std::atomic_ref<ULONG_PTR>(overlapped->Internal).store(error, std::memory_order_release);
  if (!overlapped->hEvent) return;
  if (deferSignals_) {
    signalsDue_.push_back(overlapped->hEvent);
  } else {
    SetEvent(overlapped->hEvent);
  }
}

void CommDevice::MarkPending(OVERLAPPED* overlapped) {
  std::atomic_ref<ULONG_PTR>(overlapped->InternalHigh).store(0, std::memory_order_relaxed);
  std::atomic_ref<ULONG_PTR>(overlapped->Internal).store(STATUS_PENDING, std::memory_order_release);
  if (overlapped->hEvent) ResetEvent(overlapped->hEvent);
}

}  // namespace platform
