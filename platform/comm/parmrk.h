#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/win32_types.h"

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
  // Forgets a mark the last read left unfinished: the bytes it belonged to were discarded.
  void Reset() { state_ = State::Plain; }

 private:
  enum class State { Plain, AfterEscape, AfterMark };
  State state_ = State::Plain;
};

// What a marked byte had. A break comes as a marked NUL, parity and framing errors alike
// as marks: the driver's counters tell how many of each came, not which mark is which. A
// driver counts an error before its byte can be read, so counts wait for their marks; where
// both parity and framing errors wait, their marks get both rather than a guess.
class MarkLabels {
 public:
  static constexpr DWORD kBreak = 0;  // the mark was a break: no byte of its own

  // counted: whether the line has counters at all (without, every marked NUL is a break).
  explicit MarkLabels(bool counted) : counted_(counted) {}
  // The counters' moves since the last look, taken before the marks they belong to.
  void Counted(int breaks, int parity, int frames);
  DWORD Label(uint8_t byte);
  void Clear() { breaks_ = parity_ = frames_ = unsure_ = 0; }

 private:
  bool counted_;
  int breaks_ = 0, parity_ = 0, frames_ = 0;
  int unsure_ = 0;  // marks owed to a parity or a framing error, which not told
};

}  // namespace platform
