#include <poll.h>
#include <sys/timerfd.h>
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
constexpr auto kUnservedGrace = std::chrono::milliseconds(2);

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
    pollfd fds[4];
    std::optional<TimePoint> next;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      fds[0] = pollfd{wakeFd_, POLLIN, 0};
      short lineEvents = 0;
      if (!gone_ && input_.Space() > 0 && !WaitersWatchLine()) lineEvents |= POLLIN;
      if (!gone_ && !writes_.empty() && line_->WaitsForPollOut()) lineEvents |= POLLOUT;
      fds[1] = pollfd{lineEvents ? line_->ReadinessFd() : -1, lineEvents, 0};
      driverPollsInput_ = (lineEvents & POLLIN) != 0;
      fds[2] = pollfd{gone_ ? -1 : line_->StatusFd(), POLLIN, 0};
      fds[3] = pollfd{unservedFd_, POLLIN, 0};
      next = NextLook();
    }
    const int ready = PollUntil(fds, 4, next);
    std::vector<Completion>& due = SignalsToSet();
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
      if (fds[3].revents) TakeUnserved();
      // A read's deadline that came while waiters had the line ends it with what arrived.
      if (ready == 0 && !driverPollsInput_ && !reads_.empty()) lineReadable_ = true;
      deferSignals_ = true;
      if (!gone_) Service(Clock::now());
      deferSignals_ = false;
      due.swap(signalsDue_);
    }
    // Signalled after the device lock is released, so that a woken caller does not at once
    // block on it. A caller learns of a completion by its event, as the API requires.
    SignalAll(due);
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

bool CommDevice::LineOperationPending() const { return wait_ || !reads_.empty(); }

// An operation that goes pending while the line is left to waiters, none of them polling,
// is the driver's to serve unless a waiter starts polling within a short grace: the
// caller of a blocking wait is on its way then, while one that polls the block, or gave
// it no event, never comes. The timer costs the blocking caller no wake-up of the driver,
// and a timer that is running serves the operations after it: a waiter that comes leaves
// it running, and its ring serves only what went unwaited for the whole grace.
void CommDevice::ServeUnlessWaited(const OVERLAPPED* overlapped) {
  if (!waitersServe_ || waitersPolling_ > 0) return;
  if (!overlapped->hEvent) {
    waitersServe_ = false;
    Wake();
    return;
  }
  if (!unservedSince_) unservedSince_ = Clock::now();
  if (!unservedArmed_) SetUnservedTimer(kUnservedGrace);
}

void CommDevice::SetUnservedTimer(Clock::duration after) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(after).count();
  itimerspec spec{};
  spec.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  spec.it_value.tv_nsec = std::max<long>(1, static_cast<long>(ns % 1'000'000'000));
  timerfd_settime(unservedFd_, 0, &spec, nullptr);
  unservedArmed_ = true;
}

// The timer rang: what is pending and has been polled by nobody through the grace is
// served from now on.
void CommDevice::TakeUnserved() {
  uint64_t expirations = 0;
  if (read(unservedFd_, &expirations, sizeof expirations) < 0) {
    // Armed again since it rang, which cleared the count.
  }
  unservedArmed_ = false;
  if (waitersPolling_ > 0 || !LineOperationPending() || !unservedSince_) {
    unservedSince_.reset();
    return;
  }
  const Clock::duration unwaited = Clock::now() - *unservedSince_;
  if (unwaited < kUnservedGrace) {
    SetUnservedTimer(kUnservedGrace - unwaited);
    return;
  }
  unservedSince_.reset();
  waitersServe_ = false;
  lineReadable_ = true;
}

int CommDevice::WaiterPollFd() {
  std::lock_guard lock(mutex_);
  if (stopping_ || gone_) return -1;
  if (input_.Space() == 0) {
    waitersServe_ = false;  // a waiter that finds no room polls nothing: the driver looks
    return -1;
  }
  ++waitersPolling_;
  unservedSince_.reset();
  return line_->ReadinessFd();
}

// A waiter that leaves while an operation is still pending (its time ran out, another
// event ended its wait) hands the line back to the driver, unless another still polls.
void CommDevice::WaiterUnpolled() {
  std::lock_guard lock(mutex_);
  if (--waitersPolling_ > 0 || !LineOperationPending() || !waitersServe_) return;
  waitersServe_ = false;
  Wake();
}

// Once a waiter has served the line, waiters watch it and the driver leaves it to them:
// one poller per descriptor. Bytes that arrive while no operation is pending stay in the
// kernel until the next call takes them. Input flow control needs the queue's level as bytes
// arrive, so with it the driver keeps watching.
bool CommDevice::WaitersWatchLine() const {
  const bool flowControlled = dcb_.fInX || dcb_.fRtsControl == RTS_CONTROL_HANDSHAKE ||
                              dcb_.fDtrControl == DTR_CONTROL_HANDSHAKE;
  return waitersServe_ && !flowControlled;
}

// Until the driver leaves the line to the waiters it polls the same descriptor and may
// wake as well; whichever comes first takes the bytes, the other finds none. What is left
// with a deadline is the driver's to time, so it is told to look again.
void CommDevice::ServeWaiter() {
  std::vector<Completion>& due = SignalsToSet();
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
    if (NextLook()) Wake();
    TellDriverOfRoom();
  }
  SignalAll(due);
}

std::optional<CommDevice::TimePoint> CommDevice::NextLook() const {
  std::optional<TimePoint> next = drainCheck_;
  auto consider = [&](TimePoint t) {
    if (!next || t < *next) next = t;
  };
  if (outputCheck_) consider(*outputCheck_);
  if (!reads_.empty()) {
    const PendingRead& r = reads_.front();
    if (r.totalDeadline) consider(*r.totalDeadline);
    if (r.interval && r.done > 0) consider(r.lastByte + *r.interval);
  }
  if (!writes_.empty() && writes_.front().deadline) consider(*writes_.front().deadline);
  return next;
}

// The driver's one sleep: until a descriptor is ready or, to the microsecond, the next look
// is due. Returns what poll returns.
int CommDevice::PollUntil(pollfd* fds, nfds_t count, std::optional<TimePoint> next) {
  if (!next) return ppoll(fds, count, nullptr, nullptr);
  const auto left = std::max(*next - Clock::now(), Clock::duration::zero());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  const timespec timeout{static_cast<time_t>(std::min<int64_t>(seconds.count(), 1 << 30)),
                         static_cast<long>((left - seconds).count())};
  return ppoll(fds, count, &timeout, nullptr);
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
  PumpOutput(now);
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
  outputCheck_.reset();
}

void CommDevice::EndAllPending(DWORD error) {
  for (auto& r : reads_) Complete(r.overlapped, error, r.done);
  for (auto& w : writes_) Complete(w.overlapped, error, w.done);
  if (wait_) Complete(wait_->overlapped, error, 0);
  reads_.clear();
  writes_.clear();
  wait_.reset();
}

// The result goes into the block with its event set, as one step: a caller that polls the
// block and reuses it at once must not find its next operation's event set by this one.
void CommDevice::Complete(OVERLAPPED* overlapped, DWORD error, DWORD bytes) {
  const Completion completion{overlapped, error, bytes};
  if (!overlapped->hEvent) {
    Publish(completion);
    eventlessDone_.notify_all();
  } else if (deferSignals_) {
    signalsDue_.push_back(completion);
  } else {
    Signal(completion);
  }
}

std::vector<CommDevice::Completion>& CommDevice::SignalsToSet() {
  static thread_local std::vector<Completion> due;
  return due;
}

void CommDevice::SignalAll(std::vector<Completion>& due) {
  for (const Completion& c : due) Signal(c);
  due.clear();
}

void CommDevice::Signal(const Completion& c) {
  SetEventWith(c.overlapped->hEvent, [&c] { Publish(c); });
}

void CommDevice::Publish(const Completion& c) {
  std::atomic_ref<ULONG_PTR>(c.overlapped->InternalHigh).store(c.bytes, std::memory_order_relaxed);
  std::atomic_ref<ULONG_PTR>(c.overlapped->Internal).store(c.error, std::memory_order_release);
}

bool CommDevice::IsPending(OVERLAPPED& overlapped) {
  return std::atomic_ref<ULONG_PTR>(overlapped.Internal).load(std::memory_order_acquire) ==
         STATUS_PENDING;
}

// Complete tells of every operation without an event that ends; a close ends the wait too,
// for a block that was never this device's.
void CommDevice::AwaitEventless(OVERLAPPED& overlapped) {
  std::unique_lock lock(mutex_);
  eventlessDone_.wait(lock, [&] { return stopping_ || !IsPending(overlapped); });
}

void CommDevice::MarkPending(OVERLAPPED* overlapped) {
  std::atomic_ref<ULONG_PTR>(overlapped->InternalHigh).store(0, std::memory_order_relaxed);
  std::atomic_ref<ULONG_PTR>(overlapped->Internal).store(STATUS_PENDING, std::memory_order_release);
  if (overlapped->hEvent) ResetEvent(overlapped->hEvent);
}

}  // namespace platform
