#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "platform/win32_types.h"

namespace platform {

// What wakes the main thread while it waits for queued calls. On Windows the wait also
// runs the messages other threads send to the main thread's windows, as its message loop
// would, so a sender is never stuck behind the wait.
class MainThreadSignal {
 public:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  MainThreadSignal();
  MainThreadSignal(const MainThreadSignal&) = delete;
  MainThreadSignal& operator=(const MainThreadSignal&) = delete;
  ~MainThreadSignal();

  // Called after the state that ready() reads has changed.
  void Notify();
  // Waits with lock held around each check of ready(); false when the deadline came first.
  bool WaitUntil(std::unique_lock<std::mutex>& lock, Deadline deadline,
                 const std::function<bool()>& ready);

 private:
#ifdef _WIN32
  HANDLE event_;
#else
  std::atomic<uint32_t> notices_{0};
  std::atomic<int> sleepers_{0};
#endif
};

}  // namespace platform
