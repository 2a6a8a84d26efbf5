// Handles here are the table's own numbers (Windows gives a closed handle's number out
// again, so this suite is not built there).
#include "platform/sync/handles.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/sync/events.h"
#include "platform/sync/last_error.h"

namespace {

void ExpectRefused(HANDLE closed) {
  EXPECT_FALSE(SetEvent(closed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ResetEvent(closed));
  EXPECT_EQ(WaitForSingleObject(closed, 0), WAIT_FAILED);
  EXPECT_FALSE(CloseHandle(closed));
}

// Closed events are used again for new handles, on the thread that closed them and on
// others; an old handle must never reach the event that now serves a new one.
TEST(Handles, AClosedHandleStaysRefusedWhenItsEventServesANewOne) {
  std::vector<HANDLE> closed;
  auto round = [&] {
    const HANDLE e = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    for (HANDLE old : closed) ASSERT_NE(e, old);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);  // the last one was closed signalled
    EXPECT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(e));
    EXPECT_TRUE(CloseHandle(e));
    closed.push_back(e);
  };
  for (int i = 0; i < 40; ++i) {
    round();
    std::thread(round).join();
  }
  for (HANDLE old : closed) ExpectRefused(old);
}

}  // namespace
