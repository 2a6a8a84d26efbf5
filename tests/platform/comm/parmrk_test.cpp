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

}  // namespace
}  // namespace platform
