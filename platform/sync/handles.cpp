#include "platform/sync/handles.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/sync/last_error.h"

namespace platform {
namespace {

// A handle names a slot and the slot's generation: a closed handle's slot is used again
// under the next generation, so its number stays refused. Numbers are multiples of four
// from 0x100, as Windows' are. Slots sit in chunks that never move, so a lookup can read
// one while another thread adds a chunk.
constexpr int kSlotBits = 20;
constexpr uintptr_t kSlotMask = (uintptr_t{1} << kSlotBits) - 1;
constexpr size_t kChunkSlots = 1024;
constexpr size_t kChunks = (kSlotMask + 1) / kChunkSlots;
constexpr uintptr_t kFirst = 0x100;
constexpr uintptr_t kGenerationMask = ~uintptr_t{0} >> (kSlotBits + 2);
constexpr int kNoKind = -1;

struct Slot {
  // generation << 1, plus 1 while a handle is open on the slot
  std::atomic<uintptr_t> state{0};
  std::atomic<int> kind{kNoKind};
  std::atomic<KernelObject*> pinned{nullptr};
  std::shared_ptr<KernelObject> object;  // under the table's mutex
};

struct Chunk {
  std::array<Slot, kChunkSlots> slots;
};

struct Key {
  size_t index;
  uintptr_t generation;
};

bool KeyOf(HANDLE handle, Key& key) {
  const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
  if (value < kFirst || (value & 3) != 0) return false;
  const uintptr_t bits = (value - kFirst) >> 2;
  key = {bits & kSlotMask, bits >> kSlotBits};
  return true;
}

HANDLE HandleOf(size_t index, uintptr_t generation) {
  return reinterpret_cast<HANDLE>(kFirst + ((((generation & kGenerationMask) << kSlotBits) | index) << 2));
}

uintptr_t OpenState(uintptr_t generation) { return ((generation & kGenerationMask) << 1) | 1; }

class HandleTable {
 public:
  HANDLE Insert(std::shared_ptr<KernelObject> object, int kind) {
    std::lock_guard lock(mutex_);
    const size_t index = FreeIndex();
    if (index > kSlotMask) return INVALID_HANDLE_VALUE;
    Slot& slot = At(index);
    const uintptr_t generation = slot.state.load(std::memory_order_relaxed) >> 1;
    slot.kind.store(kind, std::memory_order_relaxed);
    slot.pinned.store(kind == kNoKind ? nullptr : object.get(), std::memory_order_relaxed);
    slot.object = std::move(object);
    slot.state.store(OpenState(generation), std::memory_order_release);
    return HandleOf(index, generation);
  }

  std::shared_ptr<KernelObject> Find(HANDLE handle) {
    std::lock_guard lock(mutex_);
    Slot* slot = OpenSlot(handle);
    return slot ? slot->object : nullptr;
  }

  // Reads the slot as a writer may be changing it: the state before and after the read
  // must both be the handle's, or the slot was closed or used again meanwhile.
  KernelObject* FindPinned(HANDLE handle, int kind) {
    Key key{};
    if (!KeyOf(handle, key) || key.index >= kChunks * kChunkSlots) return nullptr;
    Chunk* chunk = chunks_[key.index / kChunkSlots].load(std::memory_order_acquire);
    if (!chunk) return nullptr;
    Slot& slot = chunk->slots[key.index % kChunkSlots];
    const uintptr_t expected = OpenState(key.generation);
    if (slot.state.load(std::memory_order_acquire) != expected) return nullptr;
    const int found = slot.kind.load(std::memory_order_relaxed);
    KernelObject* object = slot.pinned.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (slot.state.load(std::memory_order_relaxed) != expected || found != kind) return nullptr;
    return object;
  }

  std::shared_ptr<KernelObject> Remove(HANDLE handle) {
    std::lock_guard lock(mutex_);
    Slot* slot = OpenSlot(handle);
    if (!slot) return nullptr;
    const uintptr_t generation = slot->state.load(std::memory_order_relaxed) >> 1;
    slot->state.store((generation + 1) << 1, std::memory_order_release);
    Key key{};
    KeyOf(handle, key);
    free_.push_back(key.index);
    return std::move(slot->object);
  }

 private:
  size_t FreeIndex() {
    if (free_.empty()) {
      if (used_ > kSlotMask) return used_;
      if (used_ % kChunkSlots == 0) {
        chunks_[used_ / kChunkSlots].store(new Chunk, std::memory_order_release);
      }
      return used_++;
    }
    const size_t index = free_.back();
    free_.pop_back();
    return index;
  }

  Slot& At(size_t index) {
    return chunks_[index / kChunkSlots].load(std::memory_order_relaxed)->slots[index % kChunkSlots];
  }

  Slot* OpenSlot(HANDLE handle) {
    Key key{};
    if (!KeyOf(handle, key) || key.index >= used_) return nullptr;
    Slot& slot = At(key.index);
    if (slot.state.load(std::memory_order_relaxed) != OpenState(key.generation)) return nullptr;
    return &slot;
  }

  std::mutex mutex_;
  std::array<std::atomic<Chunk*>, kChunks> chunks_{};
  size_t used_ = 0;
  std::vector<size_t> free_;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives every static that closes a handle
  return *table;
}

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  return Table().Insert(std::move(object), kNoKind);
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) { return Table().Find(handle); }

HANDLE InsertPinnedHandle(std::shared_ptr<KernelObject> object, int kind) {
  return Table().Insert(std::move(object), kind);
}

KernelObject* FindPinnedHandle(HANDLE handle, int kind) {
  return Table().FindPinned(handle, kind);
}

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  std::shared_ptr<platform::KernelObject> object = platform::Table().Remove(handle);
  if (!object) return platform::FailWith(ERROR_INVALID_HANDLE);
  object->OnClose();
  return TRUE;
}
