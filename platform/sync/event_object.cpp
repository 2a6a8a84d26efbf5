#include "platform/sync/event_object.h"

#include <algorithm>

namespace platform {
namespace {

constexpr int kEventKind = 1;

// Every event ever made, and which of them wait for a handle.
struct Pool {
  std::mutex mutex;
  std::vector<std::shared_ptr<EventObject>> all;
  std::vector<size_t> closed;
};

Pool& EventPool() {
  static Pool* pool = new Pool;  // outlives every static that closes a handle
  return *pool;
}

}  // namespace

std::mutex& EventObject::Lock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

HANDLE EventObject::Create(bool manualReset, bool signalled) {
  Pool& pool = EventPool();
  std::shared_ptr<EventObject> event;
  {
    std::lock_guard lock(pool.mutex);
    if (pool.closed.empty()) {
      pool.closed.push_back(pool.all.size());
      pool.all.push_back(std::make_shared<EventObject>());
      pool.all.back()->poolIndex_ = pool.all.size() - 1;
    }
    event = pool.all[pool.closed.back()];
    pool.closed.pop_back();
  }
  EventObject* object = event.get();
  const HANDLE handle = InsertPinnedHandle(std::move(event), kEventKind);
  if (handle == INVALID_HANDLE_VALUE) {
    std::lock_guard lock(pool.mutex);
    pool.closed.push_back(object->poolIndex_);
    return nullptr;
  }
  // Published with the number: until then no call can name it by this handle.
  object->state_.store(Number(handle) | (manualReset ? kManualReset : 0) | (signalled ? kSignalled : 0));
  return handle;
}

EventObject* EventObject::Find(HANDLE handle) {
  auto* event = static_cast<EventObject*>(FindPinnedHandle(handle, kEventKind));
  return event && event->Serves(handle) ? event : nullptr;
}

// Waiters that are still on it leave by themselves; a set under its next handle only makes
// them look again at what they wait for.
void EventObject::OnClose() {
  {
    std::lock_guard lock(Lock());
    state_.store(0);
    helper_.reset();
  }
  Pool& pool = EventPool();
  std::lock_guard lock(pool.mutex);
  pool.closed.push_back(poolIndex_);
}

bool EventObject::Serves(HANDLE handle) const { return (state_.load() & ~kFlags) == Number(handle); }

bool EventObject::Change(HANDLE handle, uintptr_t set, uintptr_t clear) {
  uintptr_t state = state_.load();
  do {
    if ((state & ~kFlags) != Number(handle)) return false;
  } while (!state_.compare_exchange_weak(state, (state | set) & ~clear));
  return true;
}

bool EventObject::Set(HANDLE handle) { return Change(handle, kSignalled, 0); }
bool EventObject::Reset(HANDLE handle) { return Change(handle, 0, kSignalled); }

bool EventObject::TryAcquire(HANDLE handle) {
  uintptr_t state = state_.load();
  do {
    if ((state & ~kFlags) != Number(handle) || !(state & kSignalled)) return false;
    if (state & kManualReset) return true;
  } while (!state_.compare_exchange_weak(state, state & ~kSignalled));
  return true;
}

void EventObject::AddWaiter(const std::shared_ptr<Waiter>& waiter) {
  waiters_.push_back(waiter);
  waiting_.fetch_add(1);
}

void EventObject::RemoveWaiter(const std::shared_ptr<Waiter>& waiter) {
  waiters_.erase(std::find(waiters_.begin(), waiters_.end(), waiter));
  waiting_.fetch_sub(1);
}

void EventObject::GatherWaiters(FewPointers<Waiter>& woken) const {
  for (const auto& w : waiters_) woken.Add(w);
}

}  // namespace platform
