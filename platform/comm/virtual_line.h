#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/comm/byte_line.h"

namespace platform {

// The far end of an in-memory null-modem line, installed under a port name. A test
// drives it: bytes, modem lines, line errors, injected failures, a vanishing device; and
// it records every comm call the device side makes, in order.
class VirtualPort {
 public:
  VirtualPort();
  ~VirtualPort();
  VirtualPort(const VirtualPort&) = delete;
  VirtualPort& operator=(const VirtualPort&) = delete;

  // Bytes towards the device. With XON/XOFF output on, the flow characters steer the
  // device's output instead, as a UART's line discipline does.
  void Send(std::string_view bytes);
  void SendWithError(uint8_t byte, DWORD lineErrorFlags);  // CE_FRAME, CE_RXPARITY, CE_OVERRUN
  // An error a UART counts between bytes, with no byte of its own (CE_BREAK, CE_OVERRUN,
  // CE_RXPARITY, CE_FRAME; a break is also EV_BREAK). Like the kernel's counters it is
  // found when the device reads past it, and rings nothing.
  void SendLineError(DWORD errors);
  void SendBreak() { SendLineError(CE_BREAK); }
  void SetCTS(bool on);
  void SetDSR(bool on);
  void SetRing(bool on);
  void SetDCD(bool on);
  // Makes the device disappear, as a pulled USB adapter does.
  void Vanish();

  // Bytes the device transmitted. Take empties the far end's buffer and so makes room.
  std::string Take();
  bool WaitForBytes(size_t count, std::chrono::milliseconds timeout);
  // Waits until the device has taken every byte sent towards it.
  bool WaitUntilDelivered(std::chrono::milliseconds timeout);
  std::string TakeExactly(size_t count, std::chrono::milliseconds timeout);
  // How many bytes the far end buffers before the line stops taking them.
  void SetReceiveCapacity(size_t bytes);

  void FailNext(const std::string& call, DWORD errorCode);
  std::vector<std::string> Calls() const;
  void ClearCalls();
  bool WaitForCall(const std::string& call, std::chrono::milliseconds timeout);

  DCB LastDcb() const;
  bool Rts() const;
  bool Dtr() const;
  bool IsOpen() const;
  bool WaitUntilClosed(std::chrono::milliseconds timeout);

 private:
  friend class VirtualLine;
  friend std::unique_ptr<ByteLine> OpenVirtualLine(const std::string& name, DWORD& error);

  void RingData();
  void RingStatus();
  void ModemChange(bool& line, bool on, DWORD event, bool risingOnly);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int dataFd_;
  int statusFd_;
  struct Arrival {
    uint8_t byte;
    DWORD flags;  // the byte's line errors, or the counted ones of a byteless arrival
    bool hasByte;
  };
  std::deque<Arrival> toDevice_;
  std::string fromDevice_;
  size_t receiveCapacity_ = SIZE_MAX;
  bool cts_ = false, dsr_ = false, ring_ = false, dcd_ = false;
  bool rts_ = false, dtr_ = false;
  bool heldByXoff_ = false;
  DWORD pendingEvents_ = 0;
  DWORD pendingErrors_ = 0;
  bool open_ = false;
  bool gone_ = false;
  DCB dcb_{};
  std::map<std::string, DWORD> failNext_;
  std::vector<std::string> calls_;
};

// Installs a virtual port under a name that CreateFileA then opens instead of a device.
std::shared_ptr<VirtualPort> InstallVirtualPort(const std::string& name);
void RemoveVirtualPort(const std::string& name);

// The device side of an installed port; null with error 0 when no port has that name.
std::unique_ptr<ByteLine> OpenVirtualLine(const std::string& name, DWORD& error);

}  // namespace platform
