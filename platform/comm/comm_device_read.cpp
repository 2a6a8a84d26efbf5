#include <algorithm>
#include <cstring>

#include "platform/comm/comm_device.h"
#include "platform/comm/comm_timing.h"
#include "platform/sync/last_error.h"

// The read path: ReadFile and its timeouts, and bytes from the line into the input queue.
namespace platform {
namespace {

constexpr size_t kPumpChunk = 4096;

}  // namespace

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
  ServeUnlessWaited(read.overlapped);
  if (read.totalDeadline || read.interval) Wake();
  return false;
}

// Bytes a full queue left on the line move up as the read makes room, on the caller's
// thread rather than after a turn of the driver's.
void CommDevice::TakeRefilling(PendingRead& read, TimePoint now) {
  for (;;) {
    TakeFromQueue(read, read.wanted, now);
    if (!lineReadable_ || gone_ || input_.Space() == 0) return;
    TakeFromLine();
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

}  // namespace platform
