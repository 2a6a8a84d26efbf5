#include "platform/sync/events.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/sync/handles.h"
#include "platform/sync/last_error.h"

namespace platform {
namespace {

// One lock guards the state of every event; each waiter sleeps on its own condition, so a
// SetEvent wakes only the threads that wait for that event. Waiters are woken after the
// lock is released, so a woken thread does not at once block on the lock again.
std::mutex& EventLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

// A thread's own wake-up descriptor, for the waits in which it polls helpers. Every waiter
// of the thread holds it, so a SetEvent that rings it after the thread has ended still
// writes to this descriptor, never to a file that took over its number.
class WakeFd {
 public:
  WakeFd() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
  WakeFd(const WakeFd&) = delete;
  WakeFd& operator=(const WakeFd&) = delete;
  ~WakeFd() { close(fd_); }
  int Get() const { return fd_; }

 private:
  int fd_;
};

std::shared_ptr<const WakeFd> ThreadWakeFd() {
  static thread_local const auto fd = std::make_shared<const WakeFd>();
  return fd;
}

struct Waiter {
  std::condition_variable wake;
  const std::shared_ptr<const WakeFd> wakeFd = ThreadWakeFd();
  const std::thread::id owner = std::this_thread::get_id();
  std::atomic<bool> polling{false};

  // A waiter that sets its own event while helping is not asleep: no descriptor to ring.
  void Wake() {
    wake.notify_one();
    if (polling.load() && std::this_thread::get_id() != owner) {
      const uint64_t one = 1;
      if (write(wakeFd->Get(), &one, sizeof one) < 0) {
        // Already rung.
      }
    }
  }
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
  void SetHelper(std::shared_ptr<EventHelper> helper) { helper_ = std::move(helper); }
  const std::shared_ptr<EventHelper>& Helper() const { return helper_; }
  const std::vector<std::shared_ptr<Waiter>>& Waiters() const { return waiters_; }
  void AddWaiter(const std::shared_ptr<Waiter>& w) { waiters_.push_back(w); }
  void RemoveWaiter(const std::shared_ptr<Waiter>& w) {
    waiters_.erase(std::find(waiters_.begin(), waiters_.end(), w));
  }

 private:
  const bool manualReset_;
  bool signalled_;
  std::vector<std::shared_ptr<Waiter>> waiters_;
  std::shared_ptr<EventHelper> helper_;
};

std::shared_ptr<EventObject> FindEvent(HANDLE h) { return FindHandleAs<EventObject>(h); }

int FirstSignalled(const std::vector<std::shared_ptr<EventObject>>& events) {
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i]->TryAcquire()) return static_cast<int>(i);
  }
  return -1;
}

std::vector<std::shared_ptr<EventHelper>> Helpers(
    const std::vector<std::shared_ptr<EventObject>>& events) {
  std::vector<std::shared_ptr<EventHelper>> helpers;
  for (const auto& e : events) {
    if (e->Helper()) helpers.push_back(e->Helper());
  }
  return helpers;
}

// Sleeps in one poll on the thread's wake-up descriptor and the helpers' descriptors, and
// lets each ready helper do its work here. Returns false when the time ran out.
bool PollHelpers(const std::vector<std::shared_ptr<EventHelper>>& helpers, int wakeFd,
                 std::chrono::steady_clock::time_point deadline, bool limited) {
  std::vector<pollfd> fds{{wakeFd, POLLIN, 0}};
  for (const auto& h : helpers) fds.push_back({h->PollFd(), POLLIN, 0});
  int timeout = -1;
  if (limited) {
    const auto left = deadline - std::chrono::steady_clock::now();
    timeout = static_cast<int>(
        std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  }
  const int ready = poll(fds.data(), fds.size(), timeout);
  if (fds[0].revents) {
    uint64_t value;
    if (read(wakeFd, &value, sizeof value) < 0) {
      // Not rung.
    }
  }
  for (size_t i = 1; i < fds.size(); ++i) {
    if (fds[i].revents) helpers[i - 1]->Serve();
    if (fds[i].fd >= 0) helpers[i - 1]->Unpolled();
  }
  return !(limited && ready == 0);
}

DWORD WaitAny(const std::vector<std::shared_ptr<EventObject>>& events, DWORD milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  std::unique_lock lock(EventLock());
  int index = FirstSignalled(events);
  if (index >= 0) return WAIT_OBJECT_0 + index;
  if (milliseconds == 0) return WAIT_TIMEOUT;
  auto waiter = std::make_shared<Waiter>();
  for (auto& e : events) e->AddWaiter(waiter);
  const bool limited = milliseconds != INFINITE;
  while ((index = FirstSignalled(events)) < 0) {
    const auto helpers = Helpers(events);
    if (!helpers.empty()) {
      waiter->polling = true;
      lock.unlock();
      const bool inTime = PollHelpers(helpers, waiter->wakeFd->Get(), deadline, limited);
      lock.lock();
      if (!inTime) {
        index = FirstSignalled(events);
        break;
      }
    } else if (!limited) {
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
  for (auto& w : waiters) w->Wake();
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

namespace platform {

BOOL SetEventWith(HANDLE event, const std::function<void()>& publish) {
  auto e = FindEvent(event);
  if (!e) return FailWith(ERROR_INVALID_HANDLE);
  std::vector<std::shared_ptr<Waiter>> waiters;
  {
    std::lock_guard lock(EventLock());
    publish();
    waiters = e->Set();
  }
  for (auto& w : waiters) w->Wake();
  return TRUE;
}

void AttachEventHelper(HANDLE event, std::shared_ptr<EventHelper> helper) {
  auto e = FindEvent(event);
  if (!e) return;
  std::vector<std::shared_ptr<Waiter>> waiters;
  {
    std::lock_guard lock(EventLock());
    if (e->Helper() == helper) return;  // its waiters already poll it
    e->SetHelper(std::move(helper));
    waiters = e->Waiters();
  }
  // A thread already waiting learns of the helper on its next turn.
  for (auto& w : waiters) w->Wake();
}

void DetachEventHelper(HANDLE event, const EventHelper* helper) {
  auto e = FindEvent(event);
  if (!e) return;
  std::lock_guard lock(EventLock());
  if (e->Helper().get() == helper) e->SetHelper(nullptr);
}

}  // namespace platform

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}
