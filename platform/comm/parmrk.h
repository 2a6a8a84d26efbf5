#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// With PARMRK the kernel marks a byte received with a parity or framing error as
// \377 \0 <byte>, a break as \377 \0 \0, and doubles a real \377. The decoder turns the
// stream back into the bytes received and the positions of the marked ones, so that the
// byte with the error is the one reported; a mark cut by a read boundary is finished by
// the next read.
class ParmrkDecoder {
 public:
  // Decodes count bytes in place; returns how many bytes remain. marks receives the
  // positions, in the decoded bytes, of those that came marked.
  size_t Decode(uint8_t* bytes, size_t count, std::vector<size_t>& marks);

 private:
  enum class State { Plain, AfterEscape, AfterMark };
  State state_ = State::Plain;
};

}  // namespace platform
