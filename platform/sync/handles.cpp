#include "platform/sync/handles.h"

#include <mutex>
#include <unordered_map>

#include "platform/sync/last_error.h"

namespace platform {
namespace {

struct HandleTable {
  std::mutex mutex;
  uintptr_t next = 0x100;
  std::unordered_map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives every static that closes a handle
  return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  HandleTable& t = Table();
  std::lock_guard lock(t.mutex);
  const uintptr_t key = t.next;
  t.next += 4;
  t.objects.emplace(key, std::move(object));
  return reinterpret_cast<HANDLE>(key);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) {
  HandleTable& t = Table();
  std::lock_guard lock(t.mutex);
  auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
  return it == t.objects.end() ? nullptr : it->second;
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<platform::KernelObject> object;
  {
    platform::HandleTable& t = platform::Table();
    std::lock_guard lock(t.mutex);
    auto it = t.objects.find(reinterpret_cast<uintptr_t>(handle));
    if (it == t.objects.end()) return platform::FailWith(ERROR_INVALID_HANDLE);
    object = std::move(it->second);
    t.objects.erase(it);
  }
  object->OnClose();
  return TRUE;
}
