// Any DCB through SetCommState on the virtual line: refused with 87 or taken whole, and
// what is taken reads back as it was given.
#include <cstdlib>
#include <cstring>

#include "platform/comm/dcb_check.h"
#include "platform/comm/virtual_line.h"
#include "platform/windows.h"

namespace {

HANDLE Port() {
  static const HANDLE port = [] {
    static auto far = platform::InstallVirtualPort("FUZZ1");
    return CreateFileA("FUZZ1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
  }();
  return port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < sizeof(DCB)) return 0;
  DCB wanted;
  std::memcpy(&wanted, data, sizeof wanted);
  const bool valid = platform::IsValidDcb(wanted);
  DCB before{};
  if (!GetCommState(Port(), &before)) std::abort();
  const bool taken = SetCommState(Port(), &wanted) != FALSE;
  if (taken != valid) std::abort();
  DCB after{};
  if (!GetCommState(Port(), &after)) std::abort();
  if (!taken && GetLastError() != ERROR_INVALID_PARAMETER) std::abort();
  if (std::memcmp(taken ? &wanted : &before, &after, sizeof after) != 0) std::abort();
  return 0;
}
