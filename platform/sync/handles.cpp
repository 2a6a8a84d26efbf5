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
  std::shared_ptr<KernelObject> object;  // under the table's mutex; none for a pinned object
};

struct Chunk {
  std::array<Slot, kChunkSlots> slots;
};

// The chunks are a plain global, set up before any code runs, so that a lookup reads them
// without first asking whether the table exists.
std::array<std::atomic<Chunk*>, kChunks> g_chunks{};

Chunk* ChunkOf(size_t index) {
  if (index >= kChunks * kChunkSlots) return nullptr;
  return g_chunks[index / kChunkSlots].load(std::memory_order_acquire);
}

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
  return reinterpret_cast<HANDLE>(kFirst +
                                  ((((generation & kGenerationMask) << kSlotBits) | index) << 2));
}

uintptr_t OpenState(uintptr_t generation) { return ((generation & kGenerationMask) << 1) | 1; }

bool IsOpen(HANDLE handle) {
  Key key{};
  const Chunk* chunk = KeyOf(handle, key) ? ChunkOf(key.index) : nullptr;
  return chunk && chunk->slots[key.index % kChunkSlots].state.load(std::memory_order_acquire) ==
                      OpenState(key.generation);
}

// Reads the slot as a writer may be changing it: the state before and after the read
// must both be the handle's, or the slot was closed or used again meanwhile.
KernelObject* FindPinned(HANDLE handle, int kind) {
  Key key{};
  Chunk* chunk = KeyOf(handle, key) ? ChunkOf(key.index) : nullptr;
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

class HandleTable {
 public:
  HANDLE Insert(std::shared_ptr<KernelObject> object) {
    std::lock_guard lock(mutex_);
    const size_t index = FreeIndex();
    if (index > kSlotMask) return INVALID_HANDLE_VALUE;
    Slot& slot = At(index);
    slot.kind.store(kNoKind, std::memory_order_relaxed);
    slot.pinned.store(nullptr, std::memory_order_relaxed);
    slot.object = std::move(object);
    return Open(index, slot);
  }

  // The slot comes from the thread's own spares, which only the table's mutex refills.
  HANDLE InsertPinned(KernelObject* object, int kind) {
    std::vector<size_t>& spares = ThreadSpares();
    if (spares.empty()) TakeSpares(spares);
    if (spares.empty()) return INVALID_HANDLE_VALUE;
    const size_t index = spares.back();
    spares.pop_back();
    Slot& slot = At(index);
    slot.kind.store(kind, std::memory_order_relaxed);
    slot.pinned.store(object, std::memory_order_relaxed);
    return Open(index, slot);
  }

  std::shared_ptr<KernelObject> Find(HANDLE handle) {
    std::lock_guard lock(mutex_);
    Slot* slot = OpenSlot(handle);
    return slot ? slot->object : nullptr;
  }

  // Closes the handle; the object when it was the table's, and the pinned one otherwise.
  std::shared_ptr<KernelObject> Remove(HANDLE handle, KernelObject*& pinned) {
    Key key{};
    pinned = nullptr;
    if (!KeyOf(handle, key) || !ChunkOf(key.index)) return nullptr;
    Slot& slot = At(key.index);
    uintptr_t open = OpenState(key.generation);
    // Read after the state, the kind and object are those of this handle's own opening,
    // or the exchange below finds the slot closed or opened again.
    if (slot.state.load(std::memory_order_acquire) != open) return nullptr;
    if (slot.kind.load(std::memory_order_relaxed) != kNoKind) {
      KernelObject* object = slot.pinned.load(std::memory_order_relaxed);
      if (!slot.state.compare_exchange_strong(open, (key.generation + 1) << 1)) return nullptr;
      pinned = object;
      GiveSpare(key.index);
      return nullptr;
    }
    std::lock_guard lock(mutex_);
    if (slot.state.load(std::memory_order_relaxed) != open || !slot.object) return nullptr;
    slot.state.store((key.generation + 1) << 1, std::memory_order_release);
    free_.push_back(key.index);
    return std::move(slot.object);
  }

 private:
  static constexpr size_t kSpares = 16;

  // Slots a thread may open pinned handles on without the mutex; they go back to the
  // table when the thread ends.
  struct Spares {
    std::vector<size_t> indexes;
    ~Spares();
  };
  static std::vector<size_t>& ThreadSpares() {
    static thread_local Spares spares;
    return spares.indexes;
  }

  void TakeSpares(std::vector<size_t>& spares) {
    std::lock_guard lock(mutex_);
    while (spares.size() < kSpares / 2) {
      const size_t index = FreeIndex();
      if (index > kSlotMask) return;
      spares.push_back(index);
    }
  }

  void GiveSpare(size_t index) {
    std::vector<size_t>& spares = ThreadSpares();
    spares.push_back(index);
    if (spares.size() < kSpares) return;
    std::lock_guard lock(mutex_);
    free_.insert(free_.end(), spares.begin() + kSpares / 2, spares.end());
    spares.resize(kSpares / 2);
  }

 public:
  void ReturnSpares(std::vector<size_t>& spares) {
    std::lock_guard lock(mutex_);
    free_.insert(free_.end(), spares.begin(), spares.end());
    spares.clear();
  }

 private:
  HANDLE Open(size_t index, Slot& slot) {
    const uintptr_t generation = slot.state.load(std::memory_order_relaxed) >> 1;
    slot.state.store(OpenState(generation), std::memory_order_release);
    return HandleOf(index, generation);
  }

  size_t FreeIndex() {
    if (free_.empty()) {
      if (used_ > kSlotMask) return used_;
      if (used_ % kChunkSlots == 0) {
        g_chunks[used_ / kChunkSlots].store(new Chunk, std::memory_order_release);
      }
      return used_++;
    }
    const size_t index = free_.back();
    free_.pop_back();
    return index;
  }

  Slot& At(size_t index) { return ChunkOf(index)->slots[index % kChunkSlots]; }

  Slot* OpenSlot(HANDLE handle) {
    Key key{};
    if (!KeyOf(handle, key) || key.index >= used_) return nullptr;
    Slot& slot = At(key.index);
    if (slot.state.load(std::memory_order_relaxed) != OpenState(key.generation)) return nullptr;
    return &slot;
  }

  std::mutex mutex_;
  size_t used_ = 0;
  std::vector<size_t> free_;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable;  // outlives every static that closes a handle
  return *table;
}

HandleTable::Spares::~Spares() { Table().ReturnSpares(indexes); }

}  // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
  return Table().Insert(std::move(object));
}

std::shared_ptr<KernelObject> FindHandle(HANDLE handle) { return Table().Find(handle); }

bool IsOpenHandle(HANDLE handle) { return IsOpen(handle); }

HANDLE InsertPinnedHandle(KernelObject* object, int kind) {
  return Table().InsertPinned(object, kind);
}

KernelObject* FindPinnedHandle(HANDLE handle, int kind) { return FindPinned(handle, kind); }

}  // namespace platform

BOOL CloseHandle(HANDLE handle) {
  platform::KernelObject* pinned = nullptr;
  std::shared_ptr<platform::KernelObject> object = platform::Table().Remove(handle, pinned);
  if (!object && !pinned) return platform::FailWith(ERROR_INVALID_HANDLE);
  (object ? object.get() : pinned)->OnClose();
  return TRUE;
}
