#include "platform/sync/last_error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace platform {
namespace {

TEST(LastError, IsPerThread) {
  SetLastError(87);
  std::thread other([] {
    EXPECT_EQ(GetLastError(), 0u);
    SetLastError(5);
  });
  other.join();
  EXPECT_EQ(GetLastError(), 87u);
}

TEST(LastError, ErrnoTableGivesTheWindowsCodes) {
  struct Row {
    int err;
    DWORD code;
  };
  const Row rows[] = {
      {0, 0},           {ENOENT, 2},  {ENOTDIR, 2},       {ENODEV, 2},      {ENXIO, 2},
      {EACCES, 5},      {EPERM, 5},   {EBUSY, 5},         {EWOULDBLOCK, 5}, {EIO, 5},
      {EBADF, 6},       {ENOTTY, 50}, {EINVAL, 87},       {ENOMEM, 8},      {EMFILE, 4},
      {ECANCELED, 995}, {EINTR, 995}, {EINPROGRESS, 997}, {ENOSPC, 112},    {EDOM, 31},
  };
  for (const Row& row : rows) EXPECT_EQ(Win32ErrorFromErrno(row.err), row.code) << row.err;
}

TEST(LastError, FailHelpersSetTheCodeAndReturnFalse) {
  EXPECT_EQ(FailWithErrno(EBUSY), FALSE);
  EXPECT_EQ(GetLastError(), 5u);
  EXPECT_EQ(FailWith(ERROR_IO_PENDING), FALSE);
  EXPECT_EQ(GetLastError(), 997u);
}

}  // namespace
}  // namespace platform
