#include "platform/sync/events.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/sync/event_object.h"
#include "platform/sync/last_error.h"

namespace platform {

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

// A thread's waits share one waiter: it sleeps in one wait at a time. A wake meant for an
// earlier wait of the thread only makes a later one look again. Each waiter sleeps on its
// own condition, so a SetEvent wakes only the threads that wait for that event, after the
// lock is released, so that a woken thread does not at once block on the lock again.
struct Waiter {
  std::condition_variable wake;
  const std::shared_ptr<const WakeFd> wakeFd = std::make_shared<const WakeFd>();
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

namespace {

using Clock = std::chrono::steady_clock;

const std::shared_ptr<Waiter>& ThisThreadsWaiter() {
  static thread_local const auto waiter = std::make_shared<Waiter>();
  return waiter;
}

// The events of one wait, each with the handle it was named by.
struct Named {
  EventObject* event;
  HANDLE handle;
};

class Events {
 public:
  bool Add(HANDLE handle) {
    EventObject* event = EventObject::Find(handle);
    if (!event) return false;
    named_[size_++] = {event, handle};
    return true;
  }
  size_t Size() const { return size_; }
  EventObject& operator[](size_t i) const { return *named_[i].event; }
  HANDLE HandleOf(size_t i) const { return named_[i].handle; }

 private:
  std::array<Named, MAXIMUM_WAIT_OBJECTS> named_;
  size_t size_ = 0;
};

using Helpers = FewPointers<EventHelper>;

int FirstSignalled(const Events& events) {
  for (size_t i = 0; i < events.Size(); ++i) {
    if (events[i].TryAcquire(events.HandleOf(i))) return static_cast<int>(i);
  }
  return -1;
}

void GatherHelpers(const Events& events, Helpers& helpers) {
  helpers.Clear();
  for (size_t i = 0; i < events.Size(); ++i) {
    if (events[i].Helper()) helpers.AddOnce(events[i].Helper());
  }
}

void WakeWaitersOf(EventObject& event) {
  FewPointers<Waiter> waiters;
  {
    std::lock_guard lock(EventObject::Lock());
    event.GatherWaiters(waiters);
  }
  for (size_t i = 0; i < waiters.Size(); ++i) waiters[i].Wake();
}

int MillisLeft(Clock::time_point deadline) {
  const auto left = deadline - Clock::now();
  return static_cast<int>(
      std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

// Sleeps in one poll on the thread's wake-up descriptor and the helpers' descriptors, and
// lets each ready helper do its work here. Returns false when the time ran out.
bool PollHelpers(const Helpers& helpers, int wakeFd, Clock::time_point deadline, bool limited) {
  std::array<pollfd, MAXIMUM_WAIT_OBJECTS + 1> fds;
  fds[0] = {wakeFd, POLLIN, 0};
  for (size_t i = 0; i < helpers.Size(); ++i) fds[i + 1] = {helpers[i].PollFd(), POLLIN, 0};
  const int ready = poll(fds.data(), helpers.Size() + 1, limited ? MillisLeft(deadline) : -1);
  if (fds[0].revents) {
    uint64_t value;
    if (read(wakeFd, &value, sizeof value) < 0) {
      // Not rung.
    }
  }
  for (size_t i = 0; i < helpers.Size(); ++i) {
    if (fds[i + 1].revents) helpers[i].Serve();
    if (fds[i + 1].fd >= 0) helpers[i].Unpolled();
  }
  return !(limited && ready == 0);
}

// Sleeps on the waiter's condition, or in a poll while helpers are attached, until one of
// the events is signalled or the time is up. Runs under the lock, which it lets go while
// it sleeps.
int SleepUntilSignalled(const Events& events, Waiter& waiter, std::unique_lock<std::mutex>& lock,
                        Clock::time_point deadline, bool limited) {
  Helpers helpers;
  int index;
  while ((index = FirstSignalled(events)) < 0) {
    GatherHelpers(events, helpers);
    if (!helpers.Empty()) {
      waiter.polling = true;
      lock.unlock();
      const bool inTime = PollHelpers(helpers, waiter.wakeFd->Get(), deadline, limited);
      lock.lock();
      if (!inTime) return FirstSignalled(events);
    } else if (!limited) {
      waiter.wake.wait(lock);
    } else if (waiter.wake.wait_until(lock, deadline) == std::cv_status::timeout) {
      return FirstSignalled(events);
    }
  }
  return index;
}

// A waiter registers before it looks again, and a setter looks for waiters after it set:
// one of the two sees the other.
DWORD WaitAny(const Events& events, DWORD milliseconds) {
  int index = FirstSignalled(events);
  if (index >= 0) return WAIT_OBJECT_0 + index;
  if (milliseconds == 0) return WAIT_TIMEOUT;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  const std::shared_ptr<Waiter>& waiter = ThisThreadsWaiter();
  std::unique_lock lock(EventObject::Lock());
  for (size_t i = 0; i < events.Size(); ++i) events[i].AddWaiter(waiter);
  index = SleepUntilSignalled(events, *waiter, lock, deadline, milliseconds != INFINITE);
  waiter->polling = false;
  for (size_t i = 0; i < events.Size(); ++i) events[i].RemoveWaiter(waiter);
  return index >= 0 ? WAIT_OBJECT_0 + index : WAIT_TIMEOUT;
}

}  // namespace
}  // namespace platform

using platform::EventObject;

HANDLE CreateEventA(void*, BOOL manualReset, BOOL initialState, LPCSTR) {
  return EventObject::Create(manualReset != FALSE, initialState != FALSE);
}

BOOL SetEvent(HANDLE event) {
  EventObject* e = EventObject::Find(event);
  if (!e || !e->Set(event)) return platform::FailWith(ERROR_INVALID_HANDLE);
  if (e->HasWaiters()) platform::WakeWaitersOf(*e);
  return TRUE;
}

BOOL ResetEvent(HANDLE event) {
  EventObject* e = EventObject::Find(event);
  if (!e) return platform::FailWith(ERROR_INVALID_HANDLE);
  std::lock_guard lock(platform::EventObject::Lock());
  if (!e->Reset(event)) return platform::FailWith(ERROR_INVALID_HANDLE);
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
  platform::Events events;
  for (DWORD i = 0; i < count; ++i) {
    if (!events.Add(handles[i])) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
  }
  return platform::WaitAny(events, milliseconds);
}

namespace platform {

// Under the lock ResetEvent takes as well: a caller that found the result published and
// resets the event for its next operation waits until this set is done.
BOOL SetEventWith(HANDLE event, const std::function<void()>& publish) {
  EventObject* e = EventObject::Find(event);
  if (!e) return FailWith(ERROR_INVALID_HANDLE);
  FewPointers<Waiter> waiters;
  {
    std::lock_guard lock(EventObject::Lock());
    publish();
    if (!e->Set(event)) return FailWith(ERROR_INVALID_HANDLE);
    if (e->HasWaiters()) e->GatherWaiters(waiters);
  }
  for (size_t i = 0; i < waiters.Size(); ++i) waiters[i].Wake();
  return TRUE;
}

// A device attaches its helper on every operation that goes pending, mostly to the events
// it is on already.
void AttachEventHelper(HANDLE event, const std::shared_ptr<EventHelper>& helper) {
  EventObject* e = EventObject::Find(event);
  if (!e || e->HasHelper(helper.get())) return;
  FewPointers<Waiter> waiters;
  {
    std::lock_guard lock(EventObject::Lock());
    if (!e->Serves(event) || e->Helper() == helper) return;  // its waiters already poll it
    e->SetHelper(helper);
    e->GatherWaiters(waiters);
  }
  // A thread already waiting learns of the helper on its next turn.
  for (size_t i = 0; i < waiters.Size(); ++i) waiters[i].Wake();
}

void DetachEventHelper(HANDLE event, const EventHelper* helper) {
  EventObject* e = EventObject::Find(event);
  if (!e) return;
  std::lock_guard lock(EventObject::Lock());
  if (e->Serves(event) && e->Helper().get() == helper) e->SetHelper(nullptr);
}

}  // namespace platform

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
}
