#include "platform/comm/parmrk.h"

#include <algorithm>
#include <cstring>

namespace platform {

// Runs without an escape, nearly all of a clean line's input, move as a whole.
size_t ParmrkDecoder::Decode(uint8_t* bytes, size_t count, std::vector<size_t>& marks) {
  size_t out = 0;
  size_t i = 0;
  while (i < count) {
    if (state_ == State::Plain) {
      const void* escape = std::memchr(bytes + i, 0xFF, count - i);
      const size_t end =
          escape ? static_cast<size_t>(static_cast<const uint8_t*>(escape) - bytes) : count;
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

void MarkLabels::Counted(int breaks, int parity, int frames) {
  breaks_ += breaks;
  parity_ += parity;
  frames_ += frames;
  if (parity_ > 0 && frames_ > 0) unsure_ = parity_ + frames_;
}

DWORD MarkLabels::Label(uint8_t byte) {
  if (byte == 0 && (breaks_ > 0 || !counted_)) {
    breaks_ = std::max(breaks_ - 1, 0);
    return kBreak;
  }
  const bool parity = parity_ > 0;
  DWORD label = parity ? DWORD{CE_RXPARITY} : DWORD{CE_FRAME};
  if (unsure_ > 0) {
    --unsure_;
    label = CE_RXPARITY | CE_FRAME;
  }
  if (parity) {
    --parity_;
  } else {
    frames_ = std::max(frames_ - 1, 0);
  }
  return label;
}

}  // namespace platform
