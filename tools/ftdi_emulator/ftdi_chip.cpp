#include "ftdi_chip.h"

#include <algorithm>
#include <array>
#include <utility>

namespace ftdi {
namespace {

constexpr uint8_t kStandardIn = 0x80, kVendorOut = 0x40, kVendorIn = 0xC0;
constexpr uint8_t kGetStatus = 0, kGetDescriptor = 6;
constexpr uint8_t kThre = 0x20, kTemt = 0x40;

// An FT232B as its driver knows it: vendor 0403, product 6001, release 4.00, one
// vendor-class interface with a bulk-in and a bulk-out endpoint of 64 bytes.
constexpr std::array<uint8_t, 18> kDevice = {18,   1,    0x00, 0x02, 0,    0, 0, 8, 0x03,
                                             0x04, 0x01, 0x60, 0x00, 0x04, 1, 2, 3, 1};
constexpr std::array<uint8_t, 32> kConfiguration = {
    9, 2, 32,   0, 1,  1,    0,    0x80, 45,  // configuration
    9, 4, 0,    0, 2,  0xFF, 0xFF, 0xFF, 2,   // interface
    7, 5, 0x81, 2, 64, 0,    0,               // bulk in
    7, 5, 0x02, 2, 64, 0,    0};              // bulk out
const std::array<std::string, 4> kStrings = {"", "comtest", "Emulated USB serial", "CT000001"};

std::vector<uint8_t> StringDescriptor(uint8_t index) {
  if (index == 0) return {4, 3, 0x09, 0x04};
  if (index >= kStrings.size()) return {};
  std::vector<uint8_t> d{static_cast<uint8_t>(2 + 2 * kStrings[index].size()), 3};
  for (char c : kStrings[index]) d.insert(d.end(), {static_cast<uint8_t>(c), 0});
  return d;
}

std::vector<uint8_t> Descriptor(uint16_t value) {
  switch (value >> 8) {
    case 1:
      return {kDevice.begin(), kDevice.end()};
    case 2:
      return {kConfiguration.begin(), kConfiguration.end()};
    case 3:
      return StringDescriptor(static_cast<uint8_t>(value));
    default:
      return {};
  }
}

}  // namespace

bool Chip::Control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                   uint16_t length, std::vector<uint8_t>& reply) {
  reply.clear();
  const auto now = Clock::now();
  if (requestType == kStandardIn && request == kGetDescriptor) {
    reply = Descriptor(value);
    if (reply.empty()) return false;
  } else if (requestType == kStandardIn && request == kGetStatus) {
    reply = {0, 0};
  } else if (requestType == kVendorOut) {
    switch (request) {
      case 0:  // reset, or purge of the receive buffer
        if (value == 0 || value == 1) input_.clear();
        break;
      case 1:
        SetModemControl(value);
        break;
      case 3:
        SetBaud(value, index);
        break;
      case 4: {  // data bits, parity, stop bits, break
        const unsigned parity = (value >> 8) & 7, stop = (value >> 11) & 7;
        bitsPerChar_ = 1 + (value & 0xFF) + (parity ? 1 : 0) + (stop == 2 ? 2 : 1);
        break;
      }
      case 9:
        latency_ = std::chrono::milliseconds(std::max<uint16_t>(value & 0xFF, 1));
        break;
      default:
        break;
    }
  } else if (requestType == kVendorIn) {
    if (request == 5) reply = {ModemStatus(), LineStatus(now)};
    if (request == 10) reply = {static_cast<uint8_t>(latency_.count())};
    if (request == 0x90) reply = {0xFF, 0xFF};  // an empty EEPROM word
  }
  if (reply.size() > length) reply.resize(length);
  return true;
}

// The FT232B's divisor: 14 bits of 3 MHz periods and a fraction in eighths chosen by two
// bits of the value and one of the index.
void Chip::SetBaud(uint16_t value, uint16_t index) {
  static constexpr unsigned kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
  const unsigned whole = value & 0x3FFF;
  const unsigned code = ((value >> 14) & 3) | ((index & 1) << 2);
  const unsigned eighths = whole * 8 + kEighths[code];
  const uint32_t before = baud_;
  if (whole == 0 && code == 0) {
    baud_ = 3000000;
  } else if (whole == 1 && code == 0) {
    baud_ = 2000000;
  } else {
    baud_ = static_cast<uint32_t>(24000000ull / std::max(eighths, 1u));
  }
  if (baud_ != before) {
    events_ += "B " + std::to_string(baud_) + " " + std::to_string(Micros(Clock::now())) + " ";
  }
}

void Chip::SetModemControl(uint16_t value) {
  if (value & 0x0100) dtr_ = value & 1;
  if ((value & 0x0200) && rts_ != static_cast<bool>(value & 2)) {
    rts_ = value & 2;
    events_ += (rts_ ? "R1 " : "R0 ") + std::to_string(Micros(Clock::now())) + " ";
  }
}

uint8_t Chip::ModemBits(bool cts, bool dsr, bool ri, bool dcd) {
  return static_cast<uint8_t>(0x01 | (cts ? 0x10 : 0) | (dsr ? 0x20 : 0) | (ri ? 0x40 : 0) |
                              (dcd ? 0x80 : 0));
}

uint8_t Chip::ModemStatus() const { return ModemBits(cts_, dsr_, ri_, dcd_); }

uint8_t Chip::LineStatus(Clock::time_point now) const {
  return Transmitting(now) ? 0 : kThre | kTemt;
}

int64_t Chip::Micros(Clock::time_point t) const {
  return std::chrono::duration_cast<std::chrono::microseconds>(t - start_).count();
}

Clock::time_point Chip::Transmit(const uint8_t* data, size_t n, Clock::time_point now) {
  const Clock::time_point begin = std::max(now, txEnd_);
  const auto wire = std::chrono::microseconds(uint64_t{n} * bitsPerChar_ * 1000000 / baud_);
  txEnd_ = begin + wire;
  received_.append(reinterpret_cast<const char*>(data), n);
  events_ += "TX " + std::to_string(Micros(begin)) + " " + std::to_string(Micros(txEnd_)) + " ";
  const auto buffered =
      std::chrono::microseconds(uint64_t{transmitBuffer_} * bitsPerChar_ * 1000000 / baud_);
  return std::max(now, txEnd_ - buffered);
}

std::vector<uint8_t> Chip::NextInPacket(size_t max, Clock::time_point now) {
  const uint8_t status = input_.empty() ? 0 : input_.front().status;
  const uint8_t modem = pulse_.value_or(ModemStatus());
  pulse_.reset();
  std::vector<uint8_t> packet{modem, static_cast<uint8_t>(LineStatus(now) | status)};
  while (!input_.empty() && packet.size() < max && input_.front().status == status) {
    packet.push_back(input_.front().byte);
    input_.pop_front();
    if (status) break;  // a flag covers every byte of its packet: one byte each
  }
  return packet;
}

void Chip::SetModem(bool cts, bool dsr, bool ri, bool dcd) {
  cts_ = cts;
  dsr_ = dsr;
  ri_ = ri;
  dcd_ = dcd;
}

void Chip::Pulse(bool cts, bool dsr, bool ri, bool dcd) { pulse_ = ModemBits(cts, dsr, ri, dcd); }

void Chip::Inject(const std::vector<uint8_t>& bytes, uint8_t lineStatus) {
  for (uint8_t b : bytes) input_.push_back({b, lineStatus});
}

std::string Chip::TakeReceived() { return std::exchange(received_, {}); }
std::string Chip::TakeEvents() { return std::exchange(events_, {}); }

}  // namespace ftdi
