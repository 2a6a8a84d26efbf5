#include "platform/sync/main_thread_signal.h"

namespace platform {

MainThreadSignal::MainThreadSignal() = default;
MainThreadSignal::~MainThreadSignal() = default;

void MainThreadSignal::Notify() { condition_.notify_all(); }

bool MainThreadSignal::WaitUntil(std::unique_lock<std::mutex>& lock, Deadline deadline,
                                 const std::function<bool()>& ready) {
  if (!deadline) {
    condition_.wait(lock, ready);
    return true;
  }
  return condition_.wait_until(lock, *deadline, ready);
}

}  // namespace platform
