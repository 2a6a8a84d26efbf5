#include "platform/comm/parmrk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

struct Decoded {
  std::string bytes;
  std::vector<size_t> marks;
};

// Decodes the reads in order, as the line gets them.
Decoded Decode(const std::vector<std::string>& reads) {
  ParmrkDecoder decoder;
  Decoded result;
  for (std::string read : reads) {
    std::vector<size_t> marks;
    auto* data = reinterpret_cast<uint8_t*>(read.data());
    const size_t kept = decoder.Decode(data, read.size(), marks);
    for (size_t m : marks) result.marks.push_back(result.bytes.size() + m);
    result.bytes.append(read.data(), kept);
  }
  return result;
}

TEST(ParmrkDecoder, MarkedBytesAndDoubledEscapesWhereverTheReadsEnd) {
  using namespace std::string_literals;
  struct Case {
    std::vector<std::string> reads;
    std::string bytes;
    std::vector<size_t> marks;
  };
  const Case cases[] = {
      {{"abc"}, "abc", {}},
      {{"a\xFF\xFF"
        "b"},
       "a\xFF"
       "b",
       {}},
      {{"a\xFF\0x"s}, "ax", {1}},
      {{"\xFF\0\0"s}, "\0"s, {0}},
      {{"a\xFF", "\0x b"s}, "ax b", {1}},
      {{"a\xFF\0"s, "x"}, "ax", {1}},
      {{"\xFF", "\xFF", "\xFF\0\xFF"s}, "\xFF\xFF", {1}},
  };
  for (const Case& c : cases) {
    const Decoded d = Decode(c.reads);
    EXPECT_EQ(d.bytes, c.bytes) << c.reads[0];
    EXPECT_EQ(d.marks, c.marks) << c.reads[0];
  }
}

// Marks labelled from the counters' moves: breaks on marked NULs, parity or framing where
// only one kind was counted, both where both were and their order cannot be told.
TEST(MarkLabels, EachMarkGetsTheErrorTheCountersOweIt) {
  struct Case {
    bool counted;
    int breaks, parity, frames;  // counted before the marks
    std::string marked;          // the marked bytes, in order
    std::vector<DWORD> labels;
  };
  constexpr DWORD kBoth = CE_RXPARITY | CE_FRAME;
  const Case cases[] = {
      {true, 0, 1, 0, "a", {CE_RXPARITY}},
      {true, 0, 0, 1, "a", {CE_FRAME}},
      {true, 0, 0, 0, "a", {CE_FRAME}},
      {true, 1, 0, 0, std::string(1, '\0'), {MarkLabels::kBreak}},
      {true, 0, 0, 1, std::string(1, '\0'), {CE_FRAME}},
      {false, 0, 0, 0, std::string(1, '\0'), {MarkLabels::kBreak}},
      {true, 0, 1, 1, "ab", {kBoth, kBoth}},
      {true, 0, 2, 0, "ab", {CE_RXPARITY, CE_RXPARITY}},
      {true, 0, 1, 0, "ab", {CE_RXPARITY, CE_FRAME}},
  };
  for (const Case& c : cases) {
    MarkLabels labels(c.counted);
    labels.Counted(c.breaks, c.parity, c.frames);
    std::vector<DWORD> got;
    for (char byte : c.marked) got.push_back(labels.Label(static_cast<uint8_t>(byte)));
    EXPECT_EQ(got, c.labels) << c.breaks << c.parity << c.frames << c.marked;
  }
}

}  // namespace
}  // namespace platform
