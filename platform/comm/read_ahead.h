#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/comm/byte_line.h"

namespace platform {

// Received bytes, and their line errors, taken from the kernel in one read but not yet
// wanted by the queue above: they wait here as they would in a UART's FIFO.
class ReadAhead {
 public:
  static constexpr size_t kCapacity = 4096;

  uint8_t* Space() { return bytes_; }
  // Holds the first count bytes of Space(), with errors indexed from there.
  void Hold(size_t count, std::vector<RxError>& errors);
  // Moves up to cap held bytes to out; their errors are appended, indexed from first.
  size_t Take(uint8_t* out, size_t cap, size_t first, std::vector<RxError>& errors);
  void Clear() { begin_ = end_ = 0; }

 private:
  uint8_t bytes_[kCapacity];
  size_t begin_ = 0, end_ = 0;
  std::vector<RxError> errors_;  // indexed in bytes_
  size_t nextError_ = 0;
};

}  // namespace platform
