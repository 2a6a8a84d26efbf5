#include "cport/errors.h"

#include <gtest/gtest.h>

namespace cport {
namespace {

TEST(EComPortMessages, SystemCodeIsAppendedWhenGiven) {
  const EComPort withCode(peOpenPort, 2);
  EXPECT_STREQ(withCode.what(), "Unable to open com port (win error code: 2)");
  EXPECT_EQ(withCode.ErrorNumber(), 1);
  EXPECT_EQ(withCode.SystemErrorCode(), 2);

  EXPECT_STREQ(EComPort(peWriteFile, 0).what(), "WriteFile function failed (win error code: 0)");
  EXPECT_STREQ(EComPort(peReadFile, -5).what(), "ReadFile function failed (win error code: -5)");
}

TEST(EComPortMessages, BareWithoutSystemCode) {
  const EComPort bare(peStoreSettings);
  EXPECT_STREQ(bare.what(), "Failed to store settings");
  EXPECT_EQ(bare.SystemErrorCode(), -1);
  EXPECT_EQ(bare.ErrorNumber(), 16);
}

TEST(EComPortMessages, NumberingIsFixed) {
  EXPECT_EQ(ComErrorText(peAsyncParameter), "Invalid Async parameter");
  EXPECT_EQ(ComErrorText(peSetCommTimeouts), "SetCommTimeouts failed");
  EXPECT_EQ(ComErrorText(peSetWhileConnected), "Cannot set property while connected");
  EXPECT_EQ(ComErrorText(peLinkRegistration), "Link (un)registration failed");
  EXPECT_EQ(ComErrorText(peRegistry), "Registry error");
  EXPECT_EQ(peRegistry, 23);
  for (int n = 1; n <= 23; ++n) {
    const std::string text = ComErrorText(n);
    EXPECT_FALSE(text.empty()) << n;
    EXPECT_EQ(text.find('%'), std::string::npos);
  }
}

TEST(EComPortMessages, UnknownNumbersGiveAnEmptyTextInsteadOfCrashing) {
  EXPECT_EQ(ComErrorText(0), "");
  EXPECT_EQ(ComErrorText(24), "");
  EXPECT_STREQ(EComPort(99).what(), "");
}

TEST(EComPortMessages, CaughtAsAStandardError) {
  try {
    throw EComPort(peModemStatus, 6);
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "GetCommModemStatus function failed (win error code: 6)");
  }
}

}  // namespace
}  // namespace cport
