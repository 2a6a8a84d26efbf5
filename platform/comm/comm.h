#pragma once

#include <string>

#include "platform/win32_types.h"

#ifndef _WIN32
// The serial communications services on a device handle.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, void* security, DWORD creation,
                   DWORD flags, HANDLE templateFile);
BOOL SetupComm(HANDLE file, DWORD inQueue, DWORD outQueue);
BOOL SetCommState(HANDLE file, DCB* dcb);
BOOL GetCommState(HANDLE file, DCB* dcb);
BOOL SetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL GetCommTimeouts(HANDLE file, COMMTIMEOUTS* timeouts);
BOOL ClearCommError(HANDLE file, DWORD* errors, COMSTAT* stat);
BOOL GetCommModemStatus(HANDLE file, DWORD* status);
BOOL SetCommMask(HANDLE file, DWORD mask);
BOOL GetCommMask(HANDLE file, DWORD* mask);
BOOL WaitCommEvent(HANDLE file, DWORD* mask, OVERLAPPED* overlapped);
BOOL ReadFile(HANDLE file, void* buffer, DWORD length, DWORD* read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD length, DWORD* written,
               OVERLAPPED* overlapped);
BOOL GetOverlappedResult(HANDLE file, OVERLAPPED* overlapped, DWORD* transferred, BOOL wait);
BOOL PurgeComm(HANDLE file, DWORD flags);
BOOL CancelIoEx(HANDLE file, OVERLAPPED* overlapped);
#endif

namespace platform {

// Where a port name leads on this system. On Linux "COMn" is /dev/ttyS(n-1), an absolute
// path is used as it is, a network port (rfc2217://, socket://) is its own name, any other
// name is looked up in /dev; on Windows a name is a device in the "\\.\" namespace.
std::string DevicePathForPort(const std::string& name);

}  // namespace platform
