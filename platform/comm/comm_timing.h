#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "platform/win32_types.h"

namespace platform {

inline std::chrono::milliseconds Millis(uint64_t ms) {
  return std::chrono::milliseconds(static_cast<int64_t>(std::min<uint64_t>(ms, 1ull << 40)));
}

inline uint64_t TotalTimeout(DWORD multiplier, DWORD constant, DWORD length) {
  return uint64_t{multiplier} * length + constant;
}

// The time a character takes on the wire: start bit, data, parity and stop bits.
inline std::chrono::microseconds WireTime(size_t n, const DCB& dcb) {
  const unsigned stopHalves = dcb.StopBits == ONESTOPBIT ? 2 : dcb.StopBits == ONE5STOPBITS ? 3 : 4;
  const uint64_t halfBits =
      2 * (1 + uint64_t{dcb.ByteSize} + (dcb.Parity != NOPARITY)) + stopHalves;
  return std::chrono::microseconds(n * halfBits * 500'000 / std::max<DWORD>(dcb.BaudRate, 1));
}

}  // namespace platform
