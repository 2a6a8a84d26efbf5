#include <linux/futex.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>

#include "platform/sync/main_thread_signal.h"

namespace platform {
namespace {

void Futex(std::atomic<uint32_t>& word, int operation, uint32_t value, const timespec* timeout) {
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), operation, value, timeout, nullptr, 0);
}

timespec TimeUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::max(deadline - std::chrono::steady_clock::now(),
                             std::chrono::steady_clock::duration::zero());
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
  return {static_cast<time_t>(seconds.count()),
          static_cast<long>(std::chrono::nanoseconds(left - seconds).count())};
}

}  // namespace

MainThreadSignal::MainThreadSignal() = default;
MainThreadSignal::~MainThreadSignal() = default;

// A notice to nobody asleep costs no system call.
void MainThreadSignal::Notify() {
  notices_.fetch_add(1);
  if (sleepers_.load() > 0) Futex(notices_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
}

// The sleeper counts the notices before it looks at ready() and sleeps only while no new
// one came, so a Notify between the look and the sleep is not lost. Woken, it takes the
// lock as any thread would; a condition variable would mark the lock contended and make
// its next release a system call.
bool MainThreadSignal::WaitUntil(std::unique_lock<std::mutex>& lock, Deadline deadline,
                                 const std::function<bool()>& ready) {
  for (;;) {
    const uint32_t seen = notices_.load();
    if (ready()) return true;
    if (deadline && std::chrono::steady_clock::now() >= *deadline) return false;
    const timespec left = deadline ? TimeUntil(*deadline) : timespec{};
    sleepers_.fetch_add(1);
    lock.unlock();
    Futex(notices_, FUTEX_WAIT_PRIVATE, seen, deadline ? &left : nullptr);
    lock.lock();
    sleepers_.fetch_sub(1);
  }
}

}  // namespace platform
