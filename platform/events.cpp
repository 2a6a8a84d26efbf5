#include "platform/events.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/handles.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// One lock guards the state of every event; each waiter sleeps on its own condition, so a
// SetEvent wakes only the threads that wait for that event. Waiters are woken after the
// lock is released, so a woken thread does not at once block on the lock again.
std::mutex& EventLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

struct Waiter {
  std::condition_variable wake;
};

class EventObject : public KernelObject {
 public:
  EventObject(bool manualReset, bool signalled)
      : manualReset_(manualReset), signalled_(signalled) {}

  // All of these run under EventLock.
  std::vector<std::shared_ptr<Waiter>> Set() {
    signalled_ = true;
    return waiters_;
  }
  void Reset() { signalled_ = false; }
  bool TryAcquire() {
    if (!signalled_) return false;
    if (!manualReset_) signalled_ = false;
    return true;
  }
  void AddWaiter(const std::shared_ptr<Waiter>& w) { waiters_.push_back(w); }
  void RemoveWaiter(const std::shared_ptr<Waiter>& w) {
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), w));
  }

 private:
  const bool manualReset_;
  bool signalled_;
  std::vector<std::shared_ptr<Waiter>> waiters_;
};

std::shared_ptr<EventObject> FindEvent(HANDLE h) { return FindHandleAs<EventObject>(h); }

int FirstSignalled(const std::vector<std::shared_ptr<EventObject>>& events) {
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i]->TryAcquire()) return static_cast<int>(i);
  }
  return -1;
}

DWORD WaitAny(const std::vector<std::shared_ptr<EventObject>>& events, DWORD milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(EventLock());
  int index = FirstSignalled(events);
  if (index >= 0) return WAIT_OBJECT_0 + index;
  if (milliseconds == 0) return WAIT_TIMEOUT;
  auto waiter = std::make_shared<Waiter>();
  for (auto& e : events) e->AddWaiter(waiter);
  while ((index = FirstSignalled(events)) < 0) {
    if (milliseconds == INFINITE) {
      waiter->wake.wait(lock);
    } else if (waiter->wake.wait_until(lock, deadline) == std::cv_status::timeout) {
      index = FirstSignalled(events);
      break;
    }
  }
  for (auto& e : events) e->RemoveWaiter(waiter);
  return index >= 0 ? WAIT_OBJECT_0 + index : WAIT_TIMEOUT;
}

}  // namespace
}  // namespace platform

using platform::FindEvent;

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR) {
  return platform::InsertHandle(
      std::make_shared<platform::EventObject>(manualReset != FALSE, initialState != FALSE));
}

BOOL SetEvent(HANDLE event) {
  auto e = FindEvent(event);
  if (!e) return platform::FailWith(ERROR_INVALID_HANDLE);
  std::vector<std::shared_ptr<platform::Waiter>> waiters;
  {
    std::lock_guard lock(platform::EventLock());
    waiters = e->Set();
  }
  for (auto& w : waiters) w->wake.notify_one();
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  auto e = FindEvent(event);
  if (!e) return platform::FailWith(ERROR_INVALID_HANDLE);
  std::lock_guard lock(platform::EventLock());
  e->Reset();
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr || waitAll) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::vector<std::shared_ptr<platform::EventObject>> events;
  events.reserve(count);
  for (DWORD i = 0; i < count; ++i) {
    events.push_back(FindEvent(handles[i]));
    if (!events.back()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  return platform::WaitAny(events, milliseconds);
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}
