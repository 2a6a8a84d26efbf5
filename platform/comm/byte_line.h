#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win32_types.h"

namespace platform {

// A received byte that came with a line error (CE_FRAME, CE_RXPARITY, CE_OVERRUN).
struct RxError {
  size_t index;
  DWORD flags;
};

// Modem changes and line errors that happened since the last look.
struct LineStatus {
  DWORD events = 0;   // EV_CTS, EV_DSR, EV_RLSD, EV_RING, EV_BREAK
  DWORD errors = 0;   // CE_* beyond those tied to one byte
  bool gone = false;  // the device has gone away
};

// The byte line under a comm device: a tty or the in-memory virtual line. It moves bytes
// and programs the hardware; the Win32 semantics above it are the device's.
class ByteLine {
 public:
  virtual ~ByteLine() = default;

  // Polled for POLLIN: bytes or news may be waiting. The device also asks for POLLOUT on
  // it while output is held, when WaitsForPollOut says the line signals room that way.
  virtual int ReadinessFd() const = 0;
  virtual bool WaitsForPollOut() const = 0;
  // A second descriptor, readable when status news arrive; -1 when there is none.
  virtual int StatusFd() const { return -1; }

  // Takes up to cap received bytes. Returns the count, 0 when none is waiting, -1 when
  // the line is gone (errno set).
  virtual ssize_t Receive(uint8_t* buf, size_t cap, std::vector<RxError>& errors) = 0;
  // Hands bytes over for transmission. Returns how many were taken (0 when the line is
  // full or held), -1 when the line is gone (errno set).
  virtual ssize_t Transmit(const uint8_t* buf, size_t len) = 0;
  // Bytes taken by Transmit that have not left yet.
  virtual size_t OutputPending() = 0;
  // Whether bytes leave at the baud rate. Such a line is handed only a little more than
  // the wire takes before the device looks again, so that a purge silences it at once;
  // and as a driver's count and transmitter-empty bit can run ahead of the wire (a USB
  // adapter's status is as old as its last packet), the device also waits their wire
  // time. A line that sends at once (a pty) is handed everything.
  virtual bool SendsAtBaudRate() const { return false; }
  // Waits, at most until the deadline, for what was transmitted to leave the line, and
  // discards what is left then; called before the line is closed so that a close neither
  // cuts short what was reported written nor sends its tail with the settings put back.
  virtual void WaitUntilSent(std::chrono::steady_clock::time_point /*deadline*/) {}
  // Sends one flow-control character ahead of queued output.
  virtual void SendImmediate(uint8_t c) = 0;
  virtual void Purge(bool input, bool output) = 0;

  // Programs the line; returns 0 or a Win32 error code.
  virtual DWORD Configure(const DCB& dcb) = 0;
  // True when the line raises RTS around transmissions itself (kernel RS-485 mode).
  virtual bool TogglesRtsItself() const = 0;
  virtual void SetRts(bool on) = 0;
  virtual void SetDtr(bool on) = 0;
  // MS_* bits; returns 0 or a Win32 error code.
  virtual DWORD ModemStatus(DWORD& status) = 0;
  // What happened beside the bytes since the last call. StatusFd rings for news that come
  // on their own (a modem line); errors that Receive finds counted between the bytes (a
  // break, an overrun) ring nothing: the device takes the status after every Receive.
  virtual LineStatus TakeStatus() = 0;
  // The device has gone: what holds it is let go at once, so that it gets its old name
  // when it comes back while the handle is still open. The line's calls fail from then on.
  virtual void LetGo() {}

  // Called at the start of every comm call on the device, if WatchesCalls: a line may
  // record the call and return an error code that the call then fails with (0 to go on).
  virtual bool WatchesCalls() const { return false; }
  virtual DWORD BeginCall(const char* /*name*/) { return 0; }
};

}  // namespace platform
