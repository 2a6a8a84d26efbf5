#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

// The driver's input queue: a ring of a fixed capacity that grows only when asked.
class InputQueue {
 public:
  explicit InputQueue(size_t capacity) : ring_(capacity) {}

  size_t Count() const { return count_; }
  size_t Capacity() const { return ring_.size(); }
  size_t Space() const { return ring_.size() - count_; }

  // Keeps the queued bytes; the capacity never drops below what is queued.
  void Resize(size_t capacity);
  void Push(const uint8_t* bytes, size_t n);  // n <= Space()
  size_t Pop(uint8_t* out, size_t n);
  void Clear() { head_ = count_ = 0; }

 private:
  std::vector<uint8_t> ring_;
  size_t head_ = 0;
  size_t count_ = 0;
};

}  // namespace platform
