#include <algorithm>

#include "platform/sync/main_thread_signal.h"

namespace platform {
namespace {

DWORD MillisecondsUntil(const MainThreadSignal::Deadline& deadline) {
  if (!deadline) return INFINITE;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return static_cast<DWORD>(std::clamp<long long>(left.count(), 0, INFINITE - 1));
}

// Peeking runs every message sent to this thread's windows; posted ones stay queued.
void RunSentMessages() {
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

}  // namespace

MainThreadSignal::MainThreadSignal() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
MainThreadSignal::~MainThreadSignal() { CloseHandle(event_); }

void MainThreadSignal::Notify() { SetEvent(event_); }

bool MainThreadSignal::WaitUntil(std::unique_lock<std::mutex>& lock, Deadline deadline,
                                 const std::function<bool()>& ready) {
  while (!ready()) {
    const DWORD limit = MillisecondsUntil(deadline);
    lock.unlock();
    const DWORD woken = MsgWaitForMultipleObjectsEx(1, &event_, limit, QS_SENDMESSAGE, 0);
    if (woken == WAIT_OBJECT_0 + 1) RunSentMessages();
    lock.lock();
    if (woken == WAIT_TIMEOUT || woken == WAIT_FAILED) return ready();
  }
  return true;
}

}  // namespace platform
