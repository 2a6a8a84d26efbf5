#include "platform/sync/thread.h"

#include <condition_variable>

#include "platform/sync/main_thread.h"

namespace platform {
namespace {

std::mutex& FinishLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}
std::condition_variable& FinishSignal() {
  static std::condition_variable* signal = new std::condition_variable;
  return *signal;
}

}  // namespace

int ThreadPriorityValue(TThreadPriority priority) {
  switch (priority) {
    case TThreadPriority::tpIdle:
      return -15;
    case TThreadPriority::tpLowest:
      return -2;
    case TThreadPriority::tpLower:
      return -1;
    case TThreadPriority::tpNormal:
      return 0;
    case TThreadPriority::tpHigher:
      return 1;
    case TThreadPriority::tpHighest:
      return 2;
    case TThreadPriority::tpTimeCritical:
      return 15;
  }
  return 0;
}

TThread::~TThread() {
  if (thread_.joinable()) {
    Terminate();
    WaitFor();
  }
}

void TThread::Start() {
  if (!thread_.joinable() && !finished_) thread_ = std::thread([this] { Body(); });
}

std::exception_ptr TThread::FatalException() const {
  std::lock_guard lock(errorMutex_);
  return fatal_;
}

void TThread::Body() {
  ApplyCurrentThreadPriority(ThreadPriorityValue(priority_));
  try {
    Execute();
  } catch (...) {
    std::lock_guard lock(errorMutex_);
    fatal_ = std::current_exception();
  }
  DoTerminate();
  {
    std::lock_guard lock(FinishLock());
    finished_ = true;
  }
  FinishSignal().notify_all();
  NotifyMainThreadWaiters();
}

void TThread::WaitFor() {
  if (!thread_.joinable()) return;
  if (IsMainThread()) {
    ServeMainThreadUntil([this] { return finished_.load(); });
  } else {
    std::unique_lock lock(FinishLock());
    FinishSignal().wait(lock, [this] { return finished_.load(); });
  }
  std::call_once(joined_, [this] { thread_.join(); });
}

}  // namespace platform
