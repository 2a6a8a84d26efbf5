#include "platform/sync/last_error.h"

#include <cerrno>
#include <cstring>

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD code) { t_lastError = code; }

namespace platform {

// errno          Win32 code                     why
// 0              0 ERROR_SUCCESS
// ENOENT,ENOTDIR 2 ERROR_FILE_NOT_FOUND         no such device
// ENODEV,ENXIO   2 ERROR_FILE_NOT_FOUND         a device node with no hardware behind it
// EACCES,EPERM,  5 ERROR_ACCESS_DENIED          forbidden, or held by another program:
// EROFS,EBUSY,                                  Windows gives 5 for a port in use
// EWOULDBLOCK
// EIO,EPIPE,     5 ERROR_ACCESS_DENIED          the device has gone away (a pulled USB
// ESHUTDOWN,                                    adapter, a closed pty master): Windows
//                                               answers 5 on a removed USB serial port
// EBADF          6 ERROR_INVALID_HANDLE
// ENOTTY         50 ERROR_NOT_SUPPORTED         not a serial device
// EOPNOTSUPP     50 ERROR_NOT_SUPPORTED
// EINVAL,ERANGE  87 ERROR_INVALID_PARAMETER
// ENOMEM         8 ERROR_NOT_ENOUGH_MEMORY
// EMFILE,ENFILE  4 ERROR_TOO_MANY_OPEN_FILES
// ENOSPC         112 ERROR_DISK_FULL
// ENAMETOOLONG   206 ERROR_FILENAME_EXCED_RANGE
// ECANCELED,EINTR 995 ERROR_OPERATION_ABORTED
// EINPROGRESS    997 ERROR_IO_PENDING
// ENETUNREACH    10051 WSAENETUNREACH            connecting to a network port: Windows'
// ECONNRESET     10054 WSAECONNRESET             own socket errors
// ETIMEDOUT      10060 WSAETIMEDOUT
// ECONNREFUSED   10061 WSAECONNREFUSED
// EHOSTUNREACH   10065 WSAEHOSTUNREACH
// anything else  31 ERROR_GEN_FAILURE
DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EBUSY:
    case EWOULDBLOCK:
    case EIO:
    case EPIPE:
    case ESHUTDOWN:
      return ERROR_ACCESS_DENIED;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case ENOTTY:
    case EOPNOTSUPP:
      return ERROR_NOT_SUPPORTED;
    case EINVAL:
    case ERANGE:
      return ERROR_INVALID_PARAMETER;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ECANCELED:
    case EINTR:
      return ERROR_OPERATION_ABORTED;
    case EINPROGRESS:
      return ERROR_IO_PENDING;
    case ENETUNREACH:
      return WSAENETUNREACH;
    case ECONNRESET:
      return WSAECONNRESET;
    case ETIMEDOUT:
      return WSAETIMEDOUT;
    case ECONNREFUSED:
      return WSAECONNREFUSED;
    case EHOSTUNREACH:
      return WSAEHOSTUNREACH;
    default:
      return ERROR_GEN_FAILURE;
  }
}

BOOL FailWithErrno(int err) { return FailWith(Win32ErrorFromErrno(err)); }

BOOL FailWith(DWORD code) {
  SetLastError(code);
  return FALSE;
}

}  // namespace platform
