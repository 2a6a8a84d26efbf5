#include "app/log_lines.h"

#include <algorithm>
#include <cstring>

namespace console {
namespace {

constexpr size_t kBlockSize = 256 << 10;
constexpr size_t kSpareBlocks = 2;
constexpr size_t kFirstRing = 1024;

}  // namespace

LogLines::LogLines(size_t maxLines, size_t maxBytes) : maxLines_(maxLines), maxBytes_(maxBytes) {}

void LogLines::Append(std::string_view line) {
  while (count_ > 0 && (count_ >= maxLines_ || bytes_ + line.size() > maxBytes_)) DropOldest();
  char* at = Room(line.size());
  if (!line.empty()) std::memcpy(at, line.data(), line.size());
  Keep(std::string_view(at, line.size()));
  ++blocks_.back().lines;
  bytes_ += line.size();
  ++appended_;
}

void LogLines::Clear() {
  lines_.clear();
  first_ = count_ = 0;
  blocks_.clear();
  spare_.clear();
  bytes_ = 0;
}

std::string LogLines::Text() const {
  std::string text;
  text.reserve(bytes_ + count_);
  for (size_t i = 0; i < count_; ++i) {
    text.append(Line(i));
    text.push_back('\n');
  }
  return text;
}

// The ring doubles until it holds maxLines_, laid out afresh from its oldest line.
void LogLines::Keep(std::string_view line) {
  if (count_ == lines_.size()) {
    std::vector<std::string_view> grown(
        std::min(std::max(kFirstRing, 2 * count_), std::max(maxLines_, count_ + 1)));
    for (size_t i = 0; i < count_; ++i) grown[i] = Line(i);
    lines_ = std::move(grown);
    first_ = 0;
  }
  const size_t at = first_ + count_;
  lines_[at < lines_.size() ? at : at - lines_.size()] = line;
  ++count_;
}

// Where the next line's bytes go: the newest block, or a fresh one (a spare if one is big
// enough) when it is full.
char* LogLines::Room(size_t size) {
  if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < size) {
    Block block;
    if (!spare_.empty() && spare_.back().capacity >= size) {
      block = std::move(spare_.back());
      spare_.pop_back();
    } else {
      block.capacity = std::max(kBlockSize, size);
      block.data = std::make_unique<char[]>(block.capacity);
    }
    blocks_.push_back(std::move(block));
  }
  Block& block = blocks_.back();
  char* at = block.data.get() + block.used;
  block.used += size;
  return at;
}

// Lines leave in order, so the oldest line lies in the oldest block; a block no line needs
// any more is kept for reuse.
void LogLines::DropOldest() {
  bytes_ -= Line(0).size();
  first_ = first_ + 1 < lines_.size() ? first_ + 1 : 0;
  --count_;
  Block& oldest = blocks_.front();
  if (--oldest.lines > 0) return;
  if (blocks_.size() == 1) {
    oldest.used = 0;
    return;
  }
  if (spare_.size() < kSpareBlocks && oldest.capacity == kBlockSize) {
    oldest.used = 0;
    spare_.push_back(std::move(oldest));
  }
  blocks_.pop_front();
}

}  // namespace console
