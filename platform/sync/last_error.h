#pragma once

#include "platform/win32_types.h"

#ifndef _WIN32
DWORD GetLastError();
void SetLastError(DWORD code);

namespace platform {

// The one place where POSIX errno values become Win32 error codes.
DWORD Win32ErrorFromErrno(int err);

// Sets the last error from errno and returns FALSE, for the failure paths of the API.
BOOL FailWithErrno(int err);
BOOL FailWith(DWORD code);

}  // namespace platform
#endif
