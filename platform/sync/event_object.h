#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/sync/events.h"
#include "platform/sync/handles.h"

#ifndef _WIN32
namespace platform {

struct Waiter;

// The few shared pointers one call gathers, kept without allocating for the usual handful.
template <typename T>
class FewPointers {
 public:
  void Add(std::shared_ptr<T> p) {
    if (size_ < few_.size()) {
      few_[size_] = std::move(p);
    } else {
      more_.push_back(std::move(p));
    }
    ++size_;
  }
  // Adds it unless it is there already.
  void AddOnce(const std::shared_ptr<T>& p) {
    for (size_t i = 0; i < size_; ++i) {
      if (&(*this)[i] == p.get()) return;
    }
    Add(p);
  }
  size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  T& operator[](size_t i) const { return i < few_.size() ? *few_[i] : *more_[i - few_.size()]; }
  void Clear() {
    for (size_t i = 0; i < std::min(size_, few_.size()); ++i) few_[i].reset();
    more_.clear();
    size_ = 0;
  }

 private:
  std::array<std::shared_ptr<T>, 4> few_;
  std::vector<std::shared_ptr<T>> more_;
  size_t size_ = 0;
};

// An event. Events are made and closed for every blocking transfer and looked up by every
// wait, set and reset, so they are never destroyed: a closed one waits in a pool for its
// next handle, and is looked up without a lock. Its state is one word, the handle it now
// serves with two flags, so setting, resetting and taking it need no lock either, and a
// call with an older handle of the same object is refused.
class EventObject : public KernelObject {
 public:
  // Everything but the state word is guarded by this lock.
  static std::mutex& Lock();

  static HANDLE Create(bool manualReset, bool signalled);
  // The event a handle names, or null.
  static EventObject* Find(HANDLE handle);

  void OnClose() override;

  // These need no lock. False when the handle is no longer this object's.
  bool Set(HANDLE handle);
  bool Reset(HANDLE handle);
  // Whether it was signalled; an auto-reset event is taken with it.
  bool TryAcquire(HANDLE handle);
  bool Serves(HANDLE handle) const;
  // Whether a waiter may have to be woken; checked after each set.
  bool HasWaiters() const { return waiting_.load() > 0; }

  // Under Lock().
  void AddWaiter(const std::shared_ptr<Waiter>& waiter);
  void RemoveWaiter(const std::shared_ptr<Waiter>& waiter);
  void GatherWaiters(FewPointers<Waiter>& woken) const;
  const std::shared_ptr<EventHelper>& Helper() const { return helper_; }
  // Without the lock: whether that helper is the one attached now.
  bool HasHelper(const EventHelper* helper) const { return attached_.load() == helper; }
  void SetHelper(std::shared_ptr<EventHelper> helper);

 private:
  static constexpr uintptr_t kSignalled = 1;
  static constexpr uintptr_t kManualReset = 2;
  static constexpr uintptr_t kFlags = kSignalled | kManualReset;

  static uintptr_t Number(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }
  bool Change(HANDLE handle, uintptr_t set, uintptr_t clear);

  std::atomic<uintptr_t> state_{0};  // the handle's number | kManualReset | kSignalled
  std::atomic<int> waiting_{0};
  std::atomic<const EventHelper*> attached_{nullptr};  // helper_, for a look without the lock
  std::vector<std::shared_ptr<Waiter>> waiters_;
  std::shared_ptr<EventHelper> helper_;
};

}  // namespace platform
#endif
