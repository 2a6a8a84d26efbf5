#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows.h"

namespace platform::testing {

using namespace std::chrono_literals;

// The other end of the line a device under test is opened on.
class FarEnd {
 public:
  virtual ~FarEnd() = default;
  virtual std::string PortName() const = 0;
  virtual void Send(std::string_view bytes) = 0;
  // Waits up to timeout for count bytes from the device; returns what came.
  virtual std::string Receive(size_t count, std::chrono::milliseconds timeout = 5s) = 0;
  // Makes the device disappear.
  virtual void Vanish() = 0;
  // How many bytes the far end takes before the line stops moving.
  virtual size_t StallAfter() const = 0;
  virtual void Stall() = 0;
  // A real line without flow control cannot be stalled; only a USB adapter can vanish.
  virtual bool CanStall() const { return true; }
  virtual bool CanVanish() const { return true; }
  // Input flow control reaches the far end as the XOFF and XON characters.
  virtual bool SeesFlowCharacters() const { return true; }
  // The far port takes every character format Windows' checks let through.
  virtual bool TakesEveryFormat() const { return true; }
  // A port closed can be opened again at once.
  virtual bool ReopensAtOnce() const { return true; }
};

// A line the behaviour suite runs on: the in-memory line, a pty pair, two real ports of
// the driver rig wired together (the port under test and its far end), or a pty pair
// behind a network server (ser2net or pyserial's, telnet with the COM port option).
enum class LineKind { Virtual, Pty, Real, Ser2net, Pyserial };
struct Line {
  LineKind kind;
  std::string device;
  std::string farDevice;
};
std::unique_ptr<FarEnd> MakeFarEnd(const Line& line);
std::string LineName(const Line& line);
inline void PrintTo(const Line& line, std::ostream* out) { *out << LineName(line); }
// The rig's pairs, from COMTEST_REAL_LINES ("ttyS1:ttyS2,ttyUSB0:ttyS3"); none elsewhere.
std::vector<Line> RealLines();

// An overlapped block with its own manual-reset event.
struct Overlapped {
  OVERLAPPED ov{};
  Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
  ~Overlapped() { CloseHandle(ov.hEvent); }
  bool WaitDone(std::chrono::milliseconds timeout = 5s) const {
    return WaitForSingleObject(ov.hEvent, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
  }
  bool IsDone() const { return WaitDone(0ms); }
};

HANDLE OpenPort(const std::string& name, DWORD flags = FILE_FLAG_OVERLAPPED);

// Whether the Windows calls are Wine's, which differ from Windows' on a pseudo-terminal.
bool UnderWine();

// 8 data bits, no parity, one stop bit, no flow control.
inline DCB PlainDcb(DWORD baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  dcb.ByteSize = 8;
  dcb.XonChar = 17;
  dcb.XoffChar = 19;
  return dcb;
}

}  // namespace platform::testing
