#include "platform/comm/read_ahead.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace platform {
namespace {

// Bytes handed up in pieces keep their errors on the right byte of each piece.
TEST(ReadAhead, ErrorsStayOnTheirBytesAcrossPieces) {
  ReadAhead ahead;
  std::memcpy(ahead.Space(), "abcdefghij", 10);
  std::vector<RxError> found = {{2, CE_FRAME}, {7, CE_RXPARITY}};
  ahead.Hold(10, found);
  uint8_t out[16];
  std::vector<RxError> errors;
  ASSERT_EQ(ahead.Take(out, 5, 0, errors), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "abcde");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].index, 2u);
  errors.clear();
  ASSERT_EQ(ahead.Take(out + 3, 8, 3, errors), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out + 3), 5), "fghij");
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].index, 5u);
  EXPECT_EQ(errors[0].flags, DWORD{CE_RXPARITY});
  EXPECT_EQ(ahead.Take(out, 8, 0, errors), 0u);
}

}  // namespace
}  // namespace platform
