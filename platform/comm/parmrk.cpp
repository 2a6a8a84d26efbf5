#include "platform/comm/parmrk.h"

#include <cstring>

namespace platform {

// Runs without an escape, nearly all of a clean line's input, move as a whole.
size_t ParmrkDecoder::Decode(uint8_t* bytes, size_t count, std::vector<size_t>& marks) {
  size_t out = 0;
  size_t i = 0;
  while (i < count) {
    if (state_ == State::Plain) {
      const void* escape = std::memchr(bytes + i, 0xFF, count - i);
      const size_t end = escape ? static_cast<size_t>(static_cast<const uint8_t*>(escape) - bytes)
                                : count;
      if (out != i) std::memmove(bytes + out, bytes + i, end - i);
      out += end - i;
      i = end;
      if (escape) {
        state_ = State::AfterEscape;
        ++i;
      }
      continue;
    }
    const uint8_t c = bytes[i++];
    if (state_ == State::AfterEscape) {
      if (c == 0xFF) {
        bytes[out++] = c;
        state_ = State::Plain;
      } else {
        state_ = State::AfterMark;  // c is 0
      }
    } else {
      marks.push_back(out);
      bytes[out++] = c;
      state_ = State::Plain;
    }
  }
  return out;
}

}  // namespace platform
