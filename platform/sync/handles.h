#pragma once

#include <memory>
#include <typeinfo>

#include "platform/win32_types.h"

#ifndef _WIN32
namespace platform {

// What a HANDLE stands for. A handle's number is never given out twice, so a stale or
// forged handle is refused with ERROR_INVALID_HANDLE instead of touching freed memory.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // Runs when the last handle is closed, before the table lets go of the object.
  virtual void OnClose() {}
};

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> FindHandle(HANDLE handle);
// Whether the handle is open now, told without a lock: a caller that kept the object of
// an earlier lookup learns whether it is still this handle's.
bool IsOpenHandle(HANDLE handle);

// The object behind the handle if it is exactly a T.
template <typename T>
std::shared_ptr<T> FindHandleAs(HANDLE handle) {
  std::shared_ptr<KernelObject> object = FindHandle(handle);
  if (!object || typeid(*object) != typeid(T)) return nullptr;
  return std::static_pointer_cast<T>(std::move(object));
}

// Objects of a kind whose instances are never destroyed while the program runs (they are
// used again instead) are opened, looked up and closed without a lock and without a
// reference: every wait and every set of an event looks its handle up, and every blocking
// transfer makes and closes one. The kind is the caller's own number. A handle closed
// meanwhile may yield an object that already serves a newer handle; the object itself has
// to tell. The table does not own such an object.
HANDLE InsertPinnedHandle(KernelObject* object, int kind);
KernelObject* FindPinnedHandle(HANDLE handle, int kind);

}  // namespace platform

BOOL CloseHandle(HANDLE handle);
#endif
