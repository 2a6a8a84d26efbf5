#include "platform/comm/parmrk.h"

namespace platform {

size_t ParmrkDecoder::Decode(uint8_t* bytes, size_t count, std::vector<size_t>& marks) {
  size_t out = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t c = bytes[i];
    switch (state_) {
      case State::Plain:
        if (c == 0xFF) {
          state_ = State::AfterEscape;
        } else {
          bytes[out++] = c;
        }
        break;
      case State::AfterEscape:
        if (c == 0xFF) {
          bytes[out++] = c;
          state_ = State::Plain;
        } else {
          state_ = State::AfterMark;  // c is 0
        }
        break;
      case State::AfterMark:
        marks.push_back(out);
        bytes[out++] = c;
        state_ = State::Plain;
        break;
    }
  }
  return out;
}

}  // namespace platform
