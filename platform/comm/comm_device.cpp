#include "platform/comm/comm_device.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/comm/dcb_check.h"
#include "platform/sync/events.h"
#include "platform/sync/last_error.h"

namespace platform {
namespace {

constexpr DWORD kGoneError = ERROR_ACCESS_DENIED;
constexpr size_t kDefaultInputQueue = 4096;
constexpr size_t kMinInputQueue = 64;
constexpr DWORD kMaxQueue = 1u << 24;
constexpr size_t kPumpChunk = 4096;
constexpr auto kMinDrainCheck = std::chrono::milliseconds(1);
constexpr auto kMaxDrainCheck = std::chrono::milliseconds(50);
constexpr auto kMaxCloseDrain = std::chrono::milliseconds(10000);
constexpr size_t kKeptHelpers = 4;

std::chrono::milliseconds Millis(uint64_t ms) {
  return std::chrono::milliseconds(static_cast<int64_t>(std::min<uint64_t>(ms, 1ull << 40)));
}

uint64_t TotalTimeout(DWORD multiplier, DWORD constant, DWORD length) {
  return uint64_t{multiplier} * length + constant;
}

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

// Time the line needs for n characters: ten bits each is close enough for a poll timer.
std::chrono::milliseconds CharacterTime(size_t n, DWORD baud) {
  const uint64_t ms = uint64_t{n} * 10 * 1000 / std::max<DWORD>(baud, 1);
  return std::clamp(Millis(ms), std::chrono::milliseconds(kMinDrainCheck),
                    std::chrono::milliseconds(kMaxDrainCheck));
}

// The time a character takes on the wire: start bit, data, parity and stop bits.
std::chrono::microseconds WireTime(size_t n, const DCB& dcb) {
  const unsigned stopHalves = dcb.StopBits == ONESTOPBIT ? 2 : dcb.StopBits == ONE5STOPBITS ? 3 : 4;
  const uint64_t halfBits =
      2 * (1 + uint64_t{dcb.ByteSize} + (dcb.Parity != NOPARITY)) + stopHalves;
  return std::chrono::microseconds(n * halfBits * 500'000 / std::max<DWORD>(dcb.BaudRate, 1));
}

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

CommDevice::CommDevice(std::unique_ptr<ByteLine> line)
    : line_(std::move(line)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
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
  }
  Wake();
  if (driver_.joinable()) driver_.join();
  std::lock_guard lock(mutex_);
  for (HANDLE event : helpedEvents_) DetachEventHelper(event, helper_.get());
  helpedEvents_.clear();
  if (!gone_) line_->WaitUntilSent(DrainDeadline());
  line_.reset();
  if (wakeFd_ >= 0) close(wakeFd_);
  wakeFd_ = -1;
}

// Checked under the lock by every call: one that entered before the handle was closed
// leaves with 6 instead of touching the line the close let go of.
DWORD CommDevice::Refusal() const {
  if (stopping_) return ERROR_INVALID_HANDLE;
  return gone_ ? kGoneError : 0;
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
  return Clock::now() + std::min<std::chrono::milliseconds>(limit, kMaxCloseDrain);
}

DWORD CommDevice::BeginCall(const char* name) {
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

BOOL CommDevice::ClearError(DWORD* errors, COMSTAT* stat) {
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  if (WaitersWatchLine() && input_.Count() == 0 && !LineJustFoundEmpty()) TakeWhatArrived();
  if (gone_) return FailWith(kGoneError);
  if (errors) *errors = errorWord_;
  errorWord_ = 0;
  if (stat) {
    *stat = COMSTAT{};
    stat->fXoffSent = xoffSent_ ? 1 : 0;
    stat->cbInQue = static_cast<DWORD>(input_.Count());
    size_t out = line_->OutputPending();
    for (const auto& w : writes_) out += w.length - w.done;
    stat->cbOutQue = static_cast<DWORD>(out);
  }
  return TRUE;
}

BOOL CommDevice::ModemStatus(DWORD* status) {
  if (!status) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  if (DWORD err = line_->ModemStatus(*status)) return FailWith(err);
  return TRUE;
}

// A new mask forgets the history and completes a pending wait with an empty mask. A gone
// device has nothing left to wait for, so this still succeeds there and lets a closing
// program clean up.
BOOL CommDevice::SetMask(DWORD mask) {
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  eventMask_ = mask;
  history_ = 0;
  if (wait_) {
    *wait_->mask = 0;
    Complete(wait_->overlapped, ERROR_SUCCESS, 0);
    wait_.reset();
  }
  return TRUE;
}

BOOL CommDevice::GetMask(DWORD* mask) {
  if (!mask) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  *mask = eventMask_;
  return TRUE;
}

BOOL CommDevice::WaitEvent(DWORD* mask, OVERLAPPED* overlapped) {
  if (!mask || !overlapped) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  if (wait_ || eventMask_ == 0) return FailWith(ERROR_INVALID_PARAMETER);
  MarkPending(overlapped);
  if (!(history_ & eventMask_)) TakeWhatArrived();
  if (gone_) {
    Complete(overlapped, kGoneError, 0);
    return FailWith(kGoneError);
  }
  if (const DWORD hit = history_ & eventMask_) {
    history_ = 0;
    *mask = hit;
    Complete(overlapped, ERROR_SUCCESS, 0);
    return TRUE;
  }
  wait_ = PendingWait{overlapped, mask};
  HelpWaiter(overlapped);
  return FailWith(ERROR_IO_PENDING);
}

BOOL CommDevice::Read(void* buffer, DWORD length, DWORD* done, OVERLAPPED* overlapped) {
  if (!overlapped || (!buffer && length > 0)) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  MarkPending(overlapped);
  if (WaitersWatchLine() && reads_.empty() && input_.Count() < length) TakeWhatArrived();
  if (gone_) {
    Complete(overlapped, kGoneError, 0);
    return FailWith(kGoneError);
  }
  PendingRead read{overlapped, static_cast<uint8_t*>(buffer), length, 0, {}, {}, {}};
  const bool completed = StartRead(read, done, Clock::now());
  TellDriverOfRoom();
  return completed ? TRUE : FailWith(ERROR_IO_PENDING);
}

// The three MAXDWORD cases of the Win32 driver, then the general interval and total rules.
bool CommDevice::StartRead(PendingRead read, DWORD* done, TimePoint now) {
  const COMMTIMEOUTS& t = timeouts_;
  const bool intervalMax = t.ReadIntervalTimeout == MAXDWORD;
  // With no total constant, a MAXDWORD multiplier times nothing out either: Windows' driver
  // returns at once there too.
  const bool returnAtOnce =
      intervalMax && t.ReadTotalTimeoutConstant == 0 &&
      (t.ReadTotalTimeoutMultiplier == 0 || t.ReadTotalTimeoutMultiplier == MAXDWORD);
  const bool firstByte = intervalMax && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD;
  const bool whatIsThereOrTotal = intervalMax && !returnAtOnce && !firstByte &&
                                  t.ReadTotalTimeoutMultiplier != MAXDWORD &&
                                  t.ReadTotalTimeoutConstant != MAXDWORD;
  const bool front = reads_.empty();

  if (returnAtOnce || read.wanted == 0) {
    read.totalDeadline = now;
  } else if (firstByte) {
    if (front && input_.Count() > 0)
      read.totalDeadline = now;
    else {
      read.wanted = 1;
      read.totalDeadline = now + Millis(t.ReadTotalTimeoutConstant);
    }
  } else if (whatIsThereOrTotal && front && input_.Count() > 0) {
    read.totalDeadline = now;
  } else {
    if (t.ReadTotalTimeoutMultiplier || t.ReadTotalTimeoutConstant) {
      read.totalDeadline = now + Millis(TotalTimeout(t.ReadTotalTimeoutMultiplier,
                                                     t.ReadTotalTimeoutConstant, read.wanted));
    }
    if (t.ReadIntervalTimeout != 0 && !intervalMax) {
      read.interval = Millis(t.ReadIntervalTimeout);
    }
  }

  if (front) {
    TakeRefilling(read, now);
    if (gone_) {
      Complete(read.overlapped, read.done > 0 ? ERROR_SUCCESS : kGoneError, read.done);
      if (done) *done = read.done;
      return read.done > 0;
    }
    if (ReadCompleteOrExpired(read, now)) {
      UpdateInputFlowControl();
      Complete(read.overlapped, ERROR_SUCCESS, read.done);
      if (done) *done = read.done;
      return true;
    }
  }
  reads_.push_back(read);
  HelpWaiter(read.overlapped);
  if (read.totalDeadline || read.interval) Wake();
  return false;
}

// Bytes a full queue left on the line move up as the read makes room, on the caller's
// thread rather than after a turn of the driver's.
void CommDevice::TakeRefilling(PendingRead& read, TimePoint now) {
  for (;;) {
    TakeFromQueue(read, read.wanted, now);
    if (!lineReadable_ || gone_ || input_.Space() == 0) return;
    PumpInput();
  }
}

DWORD CommDevice::TakeFromQueue(PendingRead& read, DWORD limit, TimePoint now) {
  const DWORD n = static_cast<DWORD>(input_.Pop(read.buffer + read.done, limit - read.done));
  if (n > 0) {
    read.done += n;
    read.lastByte = now;
  }
  return n;
}

// The driver leaves the line out of its poll while the queue is full. Room a call left is
// news to it only then, and only if the line is its to watch: a read that refilled the
// queue from the line leaves it full again, and the driver asleep.
void CommDevice::TellDriverOfRoom() {
  if (!driverPollsInput_ && !gone_ && input_.Space() > 0 && !WaitersWatchLine()) Wake();
}

bool CommDevice::ReadCompleteOrExpired(const PendingRead& read, TimePoint now) const {
  if (read.done == read.wanted) return true;
  if (read.totalDeadline && now >= *read.totalDeadline) return true;
  return read.interval && read.done > 0 && now - read.lastByte >= *read.interval;
}

BOOL CommDevice::Write(const void* buffer, DWORD length, DWORD* done, OVERLAPPED* overlapped) {
  if (!overlapped || (!buffer && length > 0)) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  MarkPending(overlapped);
  const TimePoint now = Clock::now();
  PendingWrite write{overlapped, static_cast<const uint8_t*>(buffer), length, 0, {}};
  const uint64_t total = TotalTimeout(timeouts_.WriteTotalTimeoutMultiplier,
                                      timeouts_.WriteTotalTimeoutConstant, length);
  if (total) write.deadline = now + Millis(total);
  if (writes_.empty() && (length == 0 || TransmitFront(write))) {
    Complete(overlapped, ERROR_SUCCESS, length);
    if (done) *done = length;
    CheckTransmitterEmpty(now);
    if (drainCheck_) Wake();
    return TRUE;
  }
  if (const DWORD refused = Refusal()) return FailWith(refused);
  writes_.push_back(write);
  Wake();
  return FailWith(ERROR_IO_PENDING);
}

BOOL CommDevice::Purge(DWORD flags) {
  if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  if (gone_) return TRUE;  // everything pending already ended with the device
  if (flags & PURGE_TXABORT) {
    for (auto& w : writes_) Complete(w.overlapped, ERROR_OPERATION_ABORTED, w.done);
    writes_.clear();
  }
  if (flags & PURGE_RXABORT) {
    for (auto& r : reads_) Complete(r.overlapped, ERROR_OPERATION_ABORTED, r.done);
    reads_.clear();
  }
  if (flags & PURGE_TXCLEAR) line_->Purge(false, true);
  if (flags & PURGE_RXCLEAR) {
    input_.Clear();
    line_->Purge(true, false);
    lineReadable_ = true;
    waitersServe_ = false;  // a waiter that found no room polls nothing: the driver looks
    UpdateInputFlowControl();
  }
  Wake();
  return TRUE;
}

// Ends the pending operations of that block, or all of them without one, with 995; 1168
// when none was pending (it may have completed meanwhile). A timer the driver set for them
// finds nothing to end.
BOOL CommDevice::Cancel(OVERLAPPED* overlapped) {
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  const auto chosen = [overlapped](const auto& op) {
    return !overlapped || op.overlapped == overlapped;
  };
  bool found = false;
  const auto cancel = [&](auto& ops) {
    for (auto it = ops.begin(); it != ops.end();) {
      if (!chosen(*it)) {
        ++it;
        continue;
      }
      Complete(it->overlapped, ERROR_OPERATION_ABORTED, it->done);
      it = ops.erase(it);
      found = true;
    }
  };
  cancel(reads_);
  cancel(writes_);
  if (wait_ && chosen(*wait_)) {
    *wait_->mask = 0;
    Complete(wait_->overlapped, ERROR_OPERATION_ABORTED, 0);
    wait_.reset();
    found = true;
  }
  return found ? TRUE : FailWith(ERROR_NOT_FOUND);
}

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
  PumpInput();
  TakeLineStatus();
  if (gone_) return;
  ServeReads(now);
  PumpOutput();
  ExpireWrites(now);
  CheckTransmitterEmpty(now);
}

void CommDevice::PumpInput() {
  uint8_t chunk[kPumpChunk];
  std::vector<RxError> errors;
  // DSR is sampled before the bytes are taken, so a change after they left the line
  // does not reach back to them.
  DWORD modem = 0;
  const bool dsrBlocks =
      dcb_.fDsrSensitivity && (line_->ModemStatus(modem) != 0 || !(modem & MS_DSR_ON));
  while (lineReadable_ && !gone_ && input_.Space() > 0) {
    const size_t room = std::min(kPumpChunk, input_.Space());
    errors.clear();
    const ssize_t n = line_->Receive(chunk, room, errors);
    if (n < 0) {
      MarkGone();
      return;
    }
    if (n > 0) AcceptInput(chunk, static_cast<size_t>(n), errors, dsrBlocks);
    if (static_cast<size_t>(n) < room) {
      lineReadable_ = false;
      lineFoundEmpty_ = Clock::now();
    }
  }
}

// A UART holds a byte in its FIFO for a while before the driver counts it: a count asked
// for within a character's time of finding the line empty need not look again.
bool CommDevice::LineJustFoundEmpty() const {
  return Clock::now() - lineFoundEmpty_ < WireTime(1, dcb_);
}

// What the UART and the Win32 driver do to each arriving byte: errors, parity
// replacement, DSR sensitivity, null stripping, the event character.
void CommDevice::AcceptInput(uint8_t* bytes, size_t count, const std::vector<RxError>& errors,
                             bool dsrBlocks) {
  DWORD events = 0;
  size_t kept = count;
  if (errors.empty() && !dsrBlocks && !dcb_.fNull) {  // clean bytes, all kept as they came
    if (std::memchr(bytes, static_cast<uint8_t>(dcb_.EvtChar), count)) events |= EV_RXFLAG;
  } else {
    kept = FilterInput(bytes, count, errors, dsrBlocks, events);
  }
  if (kept > 0) {
    const bool belowMark = !InputAboveMark();
    input_.Push(bytes, kept);
    events |= EV_RXCHAR;
    if (belowMark && InputAboveMark()) events |= EV_RX80FULL;  // once per crossing
  }
  RaiseEvents(events);
  UpdateInputFlowControl();
}

// Byte by byte, in place; returns how many are kept.
size_t CommDevice::FilterInput(uint8_t* bytes, size_t count, const std::vector<RxError>& errors,
                               bool dsrBlocks, DWORD& events) {
  size_t kept = 0;
  size_t nextError = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t c = bytes[i];
    if (nextError < errors.size() && errors[nextError].index == i) {
      DWORD flags = errors[nextError++].flags;
      if (!dcb_.fParity) flags &= ~CE_RXPARITY;
      errorWord_ |= flags;
      if (flags & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) events |= EV_ERR;
      if ((flags & CE_RXPARITY) && dcb_.fErrorChar) c = static_cast<uint8_t>(dcb_.ErrorChar);
    }
    if (dsrBlocks || (dcb_.fNull && c == 0)) continue;
    if (c == static_cast<uint8_t>(dcb_.EvtChar)) events |= EV_RXFLAG;
    bytes[kept++] = c;
  }
  return kept;
}

bool CommDevice::InputAboveMark() const { return input_.Count() * 10 >= input_.Capacity() * 8; }

void CommDevice::TakeLineStatus() {
  const LineStatus status = line_->TakeStatus();
  if (status.gone) {
    MarkGone();
    return;
  }
  errorWord_ |= status.errors;
  DWORD events = status.events;
  if (status.errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) events |= EV_ERR;
  RaiseEvents(events);
}

void CommDevice::ServeReads(TimePoint now) {
  bool took = false;
  while (!reads_.empty()) {
    PendingRead& read = reads_.front();
    took |= TakeFromQueue(read, read.wanted, now) > 0;
    if (!ReadCompleteOrExpired(read, now)) break;
    Complete(read.overlapped, ERROR_SUCCESS, read.done);
    reads_.pop_front();
  }
  if (took && lineReadable_) Wake();  // the line may hold bytes that did not fit before
  UpdateInputFlowControl();
}

void CommDevice::PumpOutput() {
  while (!writes_.empty() && !gone_) {
    PendingWrite& write = writes_.front();
    if (!TransmitFront(write)) return;
    Complete(write.overlapped, ERROR_SUCCESS, write.done);
    writes_.pop_front();
  }
}

bool CommDevice::TransmitFront(PendingWrite& write) {
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !line_->TogglesRtsItself() && !transmitting_) {
    line_->SetRts(true);
  }
  const ssize_t n = line_->Transmit(write.buffer + write.done, write.length - write.done);
  if (n < 0) {
    MarkGone();
    return false;
  }
  if (n > 0) {
    transmitting_ = true;
    if (line_->SendsAtBaudRate()) {
      wireFree_ = std::max(wireFree_, Clock::now()) + WireTime(static_cast<size_t>(n), dcb_);
    }
  }
  write.done += static_cast<DWORD>(n);
  return write.done == write.length;
}

// A write that ran out of time completes with what went out: a short count, not an error.
void CommDevice::ExpireWrites(TimePoint now) {
  while (!writes_.empty() && writes_.front().deadline && now >= *writes_.front().deadline) {
    Complete(writes_.front().overlapped, ERROR_SUCCESS, writes_.front().done);
    writes_.pop_front();
  }
}

void CommDevice::CheckTransmitterEmpty(TimePoint now) {
  drainCheck_.reset();
  if (!transmitting_ || !writes_.empty()) return;
  const size_t pending = line_->OutputPending();
  if (pending > 0) {
    drainCheck_ = now + CharacterTime(pending, dcb_.BaudRate);
    return;
  }
  if (now < wireFree_) {
    drainCheck_ = wireFree_;
    return;
  }
  transmitting_ = false;
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !line_->TogglesRtsItself()) line_->SetRts(false);
  RaiseEvents(EV_TXEMPTY);
}

void CommDevice::UpdateInputFlowControl() {
  if (!dcb_.fInX) {
    if (xoffSent_) line_->SendImmediate(static_cast<uint8_t>(dcb_.XonChar));
    xoffSent_ = false;
    return;
  }
  if (!xoffSent_ && input_.Space() < dcb_.XoffLim) {
    line_->SendImmediate(static_cast<uint8_t>(dcb_.XoffChar));
    xoffSent_ = true;
  } else if (xoffSent_ && input_.Count() <= dcb_.XonLim) {
    line_->SendImmediate(static_cast<uint8_t>(dcb_.XonChar));
    xoffSent_ = false;
  }
}

void CommDevice::RaiseEvents(DWORD events) {
  history_ |= events & eventMask_;
  if (wait_ && history_) {
    *wait_->mask = history_;
    history_ = 0;
    Complete(wait_->overlapped, ERROR_SUCCESS, 0);
    wait_.reset();
  }
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
