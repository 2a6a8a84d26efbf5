#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace console {

// The log's lines as bytes, kept within a line and a byte budget: the oldest go first. Lines
// are packed into large blocks that are reused as the oldest lines leave, so a steady stream
// allocates nothing per line and memory stays bounded whatever arrives.
class LogLines {
 public:
  static constexpr size_t kMaxLines = 100000;  // about three hours at 10 frames a second
  static constexpr size_t kMaxBytes = 16 << 20;

  explicit LogLines(size_t maxLines = kMaxLines, size_t maxBytes = kMaxBytes);

  void Append(std::string_view line);
  // Lets every line go.
  void Clear();

  size_t Count() const { return count_; }
  size_t Bytes() const { return bytes_; }
  // Line 0 is the oldest one kept; the view lasts until the next Append or Clear.
  std::string_view Line(size_t index) const {
    const size_t at = first_ + index;
    return lines_[at < lines_.size() ? at : at - lines_.size()];
  }
  // Lines appended, and lines let go, since the log began: a view that shows the lines
  // tells from them what changed since it looked.
  uint64_t Appended() const { return appended_; }
  uint64_t Dropped() const { return appended_ - count_; }
  // Every line, each followed by an LF.
  std::string Text() const;

 private:
  struct Block {
    std::unique_ptr<char[]> data;
    size_t capacity = 0;
    size_t used = 0;
    size_t lines = 0;  // kept lines that lie in it
  };

  char* Room(size_t size);
  void Keep(std::string_view line);
  void DropOldest();

  size_t maxLines_;
  size_t maxBytes_;
  std::vector<std::string_view> lines_;  // a ring from first_, grown up to maxLines_
  size_t first_ = 0;
  size_t count_ = 0;
  std::deque<Block> blocks_;
  std::vector<Block> spare_;
  size_t bytes_ = 0;
  uint64_t appended_ = 0;
};

}  // namespace console
