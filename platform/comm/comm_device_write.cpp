#include <algorithm>

#include "platform/comm/comm_device.h"
#include "platform/comm/comm_timing.h"
#include "platform/sync/last_error.h"

// The write path and the transmitter's state: WriteFile, its timeout, RTS toggle and
// EV_TXEMPTY.
namespace platform {
namespace {

constexpr auto kMinDrainCheck = std::chrono::milliseconds(1);
constexpr auto kMaxDrainCheck = std::chrono::milliseconds(50);

// Time the line needs for n characters: ten bits each is close enough for a poll timer.
std::chrono::milliseconds CharacterTime(size_t n, DWORD baud) {
  const uint64_t ms = uint64_t{n} * 10 * 1000 / std::max<DWORD>(baud, 1);
  return std::clamp(Millis(ms), std::chrono::milliseconds(kMinDrainCheck),
                    std::chrono::milliseconds(kMaxDrainCheck));
}

}  // namespace

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

}  // namespace platform
