#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace ftdi {

using Clock = std::chrono::steady_clock;

// The parts of an FT232B that its Linux driver sees: descriptors, vendor requests, the two
// status bytes in front of every bulk-in packet, and a transmitter paced by the baud rate.
// The far end's controls (modem lines, errors and breaks on received bytes) come from the
// test through the control channel.
class Chip {
 public:
  // Line status bits of the second status byte.
  static constexpr uint8_t kOverrun = 0x02, kParity = 0x04, kFraming = 0x08, kBreak = 0x10;

  // A standard or vendor request on endpoint 0; false when the chip stalls it.
  bool Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
               uint16_t length, std::vector<uint8_t>& reply);

  // Bytes the driver sent; returns when the last of them is in the chip's transmit buffer,
  // which is when the chip takes the transfer: the wire is slower.
  Clock::time_point Transmit(const uint8_t* data, size_t n, Clock::time_point now);
  bool Transmitting(Clock::time_point now) const { return now < txEnd_; }

  // The next bulk-in packet: the status bytes and the bytes with the same line status.
  std::vector<uint8_t> NextInPacket(size_t max, Clock::time_point now);
  bool HasInput() const { return !input_.empty(); }
  std::chrono::milliseconds Latency() const { return latency_; }

  // The far end's side.
  void SetModem(bool cts, bool dsr, bool ri, bool dcd);
  // Levels for the next status packet only: too short for a modem-status request to see.
  void Pulse(bool cts, bool dsr, bool ri, bool dcd);
  void Inject(const std::vector<uint8_t>& bytes, uint8_t lineStatus);
  std::string TakeReceived();
  // RTS changes, baud rate changes and transmissions as "R1 t", "R0 t", "B baud t",
  // "TX start end" in microseconds since the chip started; taken and cleared.
  std::string TakeEvents();
  uint32_t Baud() const { return baud_; }
  int64_t Now() const { return Micros(Clock::now()); }
  // How many characters the chip takes into its buffer ahead of the wire: the FT232B's 128,
  // or 0 for a chip that takes a transfer only once it has sent it.
  void SetTransmitBuffer(unsigned characters) { transmitBuffer_ = characters; }

 private:
  struct Rx {
    uint8_t byte;
    uint8_t status;
  };
  void SetBaud(uint16_t value, uint16_t index);
  void SetModemControl(uint16_t value);
  uint8_t ModemStatus() const;
  static uint8_t ModemBits(bool cts, bool dsr, bool ri, bool dcd);
  uint8_t LineStatus(Clock::time_point now) const;
  int64_t Micros(Clock::time_point t) const;

  const Clock::time_point start_ = Clock::now();
  uint32_t baud_ = 9600;
  unsigned bitsPerChar_ = 10;
  bool cts_ = true, dsr_ = true, ri_ = false, dcd_ = true;
  bool rts_ = false, dtr_ = false;
  unsigned transmitBuffer_ = 128;
  std::optional<uint8_t> pulse_;
  std::chrono::milliseconds latency_{16};
  Clock::time_point txEnd_{};
  std::deque<Rx> input_;
  std::string received_;
  std::string events_;
};

}  // namespace ftdi
