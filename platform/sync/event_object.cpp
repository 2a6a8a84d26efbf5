#include "platform/sync/event_object.h"

#include <algorithm>

namespace platform {
namespace {

constexpr int kEventKind = 1;

constexpr size_t kKeptPerThread = 16;

// Every event ever made. The closed ones wait for a handle with the thread that closed
// them, a few per thread, and the rest here.
struct Pool {
  std::mutex mutex;
  std::vector<std::unique_ptr<EventObject>> all;
  std::vector<EventObject*> closed;
};

Pool& EventPool() {
  static Pool* pool = new Pool;  // outlives every static that closes a handle
  return *pool;
}

struct ThreadPool {
  std::vector<EventObject*> closed;
  ~ThreadPool() {
    Pool& pool = EventPool();
    std::lock_guard lock(pool.mutex);
    pool.closed.insert(pool.closed.end(), closed.begin(), closed.end());
  }
};

std::vector<EventObject*>& ThreadClosed() {
  static thread_local ThreadPool pool;
  return pool.closed;
}

EventObject* TakeClosed() {
  std::vector<EventObject*>& mine = ThreadClosed();
  if (!mine.empty()) {
    EventObject* event = mine.back();
    mine.pop_back();
    return event;
  }
  Pool& pool = EventPool();
  std::lock_guard lock(pool.mutex);
  if (pool.closed.empty()) {
    pool.all.push_back(std::make_unique<EventObject>());
    return pool.all.back().get();
  }
  EventObject* event = pool.closed.back();
  pool.closed.pop_back();
  return event;
}

void GiveClosed(EventObject* event) {
  std::vector<EventObject*>& mine = ThreadClosed();
  mine.push_back(event);
  if (mine.size() <= kKeptPerThread) return;
  Pool& pool = EventPool();
  std::lock_guard lock(pool.mutex);
  pool.closed.insert(pool.closed.end(), mine.begin() + kKeptPerThread / 2, mine.end());
  mine.resize(kKeptPerThread / 2);
}

}  // namespace

std::mutex& EventObject::Lock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

HANDLE EventObject::Create(bool manualReset, bool signalled) {
  EventObject* event = TakeClosed();
  const HANDLE handle = InsertPinnedHandle(event, kEventKind);
  if (handle == INVALID_HANDLE_VALUE) {
    GiveClosed(event);
    return nullptr;
  }
  // Published with the number: until then no call can name it by this handle.
  event->state_.store(Number(handle) | (manualReset ? kManualReset : 0) |
                      (signalled ? kSignalled : 0));
  return handle;
}

EventObject* EventObject::Find(HANDLE handle) {
  auto* event = static_cast<EventObject*>(FindPinnedHandle(handle, kEventKind));
  return event && event->Serves(handle) ? event : nullptr;
}

// Waiters that are still on it leave by themselves; a set under its next handle only makes
// them look again at what they wait for.
void EventObject::OnClose() {
  state_.store(0);
  if (attached_.load()) {
    std::lock_guard lock(Lock());
    SetHelper(nullptr);
  }
  GiveClosed(this);
}

void EventObject::SetHelper(std::shared_ptr<EventHelper> helper) {
  attached_.store(helper.get());
  helper_ = std::move(helper);
}

bool EventObject::Serves(HANDLE handle) const {
  return (state_.load() & ~kFlags) == Number(handle);
}

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
