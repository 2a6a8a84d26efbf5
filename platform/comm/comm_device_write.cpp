#include <algorithm>

#include "platform/comm/comm_device.h"
#include "platform/comm/comm_timing.h"
#include "platform/sync/last_error.h"

// The write path and the transmitter's state: WriteFile, its timeout, RTS toggle and
// EV_TXEMPTY. The output queue is the device's own: a line that sends at the baud rate is
// handed only what the wire takes before the next look and about a FIFO more, so that a
// purge or a write's timeout stops the wire at once, as Windows' driver does.
namespace platform {
namespace {

// How much wire time a line that sends at the baud rate is kept ahead of the wire; the
// driver hands it more when half of that is left.
constexpr auto kAhead = std::chrono::milliseconds(20);
// Once the wire time is over, the transmitter is looked at this often until the line says
// it is empty, for a few such looks, then at its own pace.
constexpr auto kTailStep = std::chrono::microseconds(250);
constexpr auto kTailWindow = std::chrono::milliseconds(5);
constexpr auto kMaxTailStep = std::chrono::milliseconds(50);

}  // namespace

BOOL CommDevice::Write(const void* buffer, DWORD length, DWORD* done, OVERLAPPED* overlapped) {
  if (!overlapped || (!buffer && length > 0)) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  MarkPending(overlapped);
  const TimePoint now = Clock::now();
  PendingWrite write{overlapped, static_cast<const uint8_t*>(buffer), length, 0, {}};
  if (writes_.empty()) StartTimeout(write, now);
  if (writes_.empty() && (length == 0 || TransmitFront(write, now))) {
    Complete(overlapped, ERROR_SUCCESS, length);
    if (done) *done = length;
    CheckTransmitterEmpty(now);
    if (drainCheck_) Wake();
    return TRUE;
  }
  if (gone_) {  // the device vanished under this very call
    Complete(overlapped, kGoneError, write.done);
    return FailWith(kGoneError);
  }
  writes_.push_back(write);
  Wake();
  return FailWith(ERROR_IO_PENDING);
}

// A write's total timeout runs from when its bytes start to go out, after the writes
// queued ahead of it.
void CommDevice::StartTimeout(PendingWrite& write, TimePoint now) const {
  const uint64_t total = TotalTimeout(timeouts_.WriteTotalTimeoutMultiplier,
                                      timeouts_.WriteTotalTimeoutConstant, write.length);
  if (total) write.deadline = now + Millis(total);
}

void CommDevice::PumpOutput(TimePoint now) {
  outputCheck_.reset();
  while (!writes_.empty() && !gone_) {
    PendingWrite& write = writes_.front();
    if (!TransmitFront(write, now)) return;
    Complete(write.overlapped, ERROR_SUCCESS, write.done);
    writes_.pop_front();
    if (!writes_.empty()) StartTimeout(writes_.front(), now);
  }
}

bool CommDevice::TransmitFront(PendingWrite& write, TimePoint now) {
  const size_t room = std::min<size_t>(write.length - write.done, LineRoom(now));
  if (room == 0) {
    LookAgainForRoom(now);
    return false;
  }
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !line_->TogglesRtsItself() && !transmitting_) {
    line_->SetRts(true);
  }
  const ssize_t n = line_->Transmit(write.buffer + write.done, room);
  if (n < 0) {
    MarkGone();
    return false;
  }
  if (n > 0) {
    transmitting_ = true;
    // From when the bytes were handed over: the turn's time may be older by what it read.
    if (line_->SendsAtBaudRate()) {
      wireFree_ = std::max(wireFree_, Clock::now()) + WireTime(static_cast<size_t>(n), dcb_);
    }
  }
  write.done += static_cast<DWORD>(n);
  if (write.done < write.length && line_->SendsAtBaudRate()) LookAgainForRoom(now);
  return write.done == write.length;
}

// What the line may take now: everything where it sends at once, else what keeps it
// kAhead in front of the wire. What it holds is the larger of the wire time of what it was
// handed and of what it counts: a line held by flow control keeps its bytes.
size_t CommDevice::LineRoom(TimePoint now) {
  if (!line_->SendsAtBaudRate()) return SIZE_MAX;
  const auto ahead = HeldAhead(now);
  if (ahead >= kAhead) return 0;
  const auto character = std::max(WireTime(1, dcb_), std::chrono::microseconds(1));
  return static_cast<size_t>((kAhead - ahead + character - std::chrono::microseconds(1)) /
                             character);
}

std::chrono::microseconds CommDevice::HeldAhead(TimePoint now) {
  const auto clock = std::chrono::duration_cast<std::chrono::microseconds>(wireFree_ - now);
  return std::max({clock, WireTime(line_->OutputPending(), dcb_), std::chrono::microseconds(0)});
}

// Half of what the line holds is the time the driver has to hand it more before the wire
// runs dry; a line that took less than it was offered says so itself (POLLOUT).
void CommDevice::LookAgainForRoom(TimePoint now) {
  outputCheck_ = now + std::max<Clock::duration>(HeldAhead(now) - kAhead / 2, kTailStep);
}

// A write that ran out of time completes with what went out: a short count, not an error.
void CommDevice::ExpireWrites(TimePoint now) {
  while (!writes_.empty() && writes_.front().deadline && now >= *writes_.front().deadline) {
    Complete(writes_.front().overlapped, ERROR_SUCCESS, writes_.front().done);
    writes_.pop_front();
    if (!writes_.empty()) StartTimeout(writes_.front(), now);
  }
}

// The transmitter is empty once the wire time of what went out is over and the line says
// so: never before the last stop bit, and close after it. A USB adapter's count and status
// are as old as its last packet, so near the end it is asked often.
void CommDevice::CheckTransmitterEmpty(TimePoint now) {
  drainCheck_.reset();
  if (!transmitting_ || !writes_.empty()) return;
  if (now < wireFree_) {
    drainCheck_ = wireFree_;
    return;
  }
  if (const size_t pending = line_->OutputPending(); pending > 0) {
    const bool nearTheEnd = now - wireFree_ < kTailWindow;
    drainCheck_ = now + (nearTheEnd ? Clock::duration(kTailStep)
                                    : std::clamp<Clock::duration>(WireTime(pending, dcb_),
                                                                  kTailStep, kMaxTailStep));
    return;
  }
  transmitting_ = false;
  if (dcb_.fRtsControl == RTS_CONTROL_TOGGLE && !line_->TogglesRtsItself()) line_->SetRts(false);
  RaiseEvents(EV_TXEMPTY);
}

}  // namespace platform
