#pragma once

#include <memory>

#include "platform/win32_types.h"

#ifndef _WIN32
namespace platform {

// What a HANDLE stands for. Handles are numbers in one table and never reused, so a stale
// or forged handle is refused with ERROR_INVALID_HANDLE instead of touching freed memory.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Runs when the last handle is closed, before the table lets go of the object.
  virtual void OnClose() {}
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);

template <typename T>
std::shared_ptr<T> FindHandleAs(HANDLE handle) {
  return std::dynamic_pointer_cast<T>(FindHandle(handle));
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle);
#endif
