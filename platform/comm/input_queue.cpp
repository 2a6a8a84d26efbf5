#include "platform/comm/input_queue.h"

#include <algorithm>
#include <cstring>

namespace platform {

void InputQueue::Resize(size_t capacity) {
  capacity = std::max(capacity, count_);
  std::vector<uint8_t> ring(capacity);
  const size_t kept = Pop(ring.data(), count_);
  ring_.swap(ring);
  head_ = 0;
  count_ = kept;
}

void InputQueue::Push(const uint8_t* bytes, size_t n) {
  n = std::min(n, Space());
  const size_t tail = (head_ + count_) % ring_.size();
  const size_t first = std::min(n, ring_.size() - tail);
  std::memcpy(ring_.data() + tail, bytes, first);
  std::memcpy(ring_.data(), bytes + first, n - first);
  count_ += n;
}

size_t InputQueue::Pop(uint8_t* out, size_t n) {
  n = std::min(n, count_);
  if (n == 0) return 0;
  const size_t first = std::min(n, ring_.size() - head_);
  std::memcpy(out, ring_.data() + head_, first);
  std::memcpy(out + first, ring_.data(), n - first);
  head_ = (head_ + n) % ring_.size();
  count_ -= n;
  return n;
}

}  // namespace platform
