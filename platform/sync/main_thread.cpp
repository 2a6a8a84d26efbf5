#include "platform/sync/main_thread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/process/error_display.h"
#include "platform/sync/main_thread_signal.h"

namespace platform {
namespace {

const std::thread::id g_mainThread = std::this_thread::get_id();

struct Request {
  std::function<void()> call;
  bool blocking = false;
  bool done = false;
  std::exception_ptr error;
  std::condition_variable finished;
};

struct CallQueue {
  std::mutex mutex;
  MainThreadSignal mainWaiters;  // the main thread, waiting in ServeMainThreadUntil
  std::deque<std::shared_ptr<Request>> requests;
  std::function<void()> wakeup;
};

CallQueue& Calls() {
  static CallQueue* queue = new CallQueue;
  return *queue;
}

void Enqueue(const std::shared_ptr<Request>& request) {
  CallQueue& q = Calls();
  std::function<void()> wakeup;
  {
    std::lock_guard lock(q.mutex);
    q.requests.push_back(request);
    wakeup = q.wakeup;
  }
  q.mainWaiters.Notify();
  if (wakeup) wakeup();
}

void Run(Request& request) {
  try {
    request.call();
  } catch (...) {
    request.error = std::current_exception();
  }
}

}  // namespace

bool IsMainThread() { return std::this_thread::get_id() == g_mainThread; }

void Synchronize(const std::function<void()>& call) {
  if (IsMainThread()) {
    call();
    return;
  }
  auto request = std::make_shared<Request>();
  request->call = call;
  request->blocking = true;
  Enqueue(request);
  CallQueue& q = Calls();
  std::unique_lock lock(q.mutex);
  request->finished.wait(lock, [&] { return request->done; });
  if (request->error) std::rethrow_exception(request->error);
}

void Queue(std::function<void()> call) {
  auto request = std::make_shared<Request>();
  request->call = std::move(call);
  Enqueue(request);
}

bool CheckSynchronize() {
  if (!IsMainThread()) return false;
  CallQueue& q = Calls();
  std::deque<std::shared_ptr<Request>> batch;
  {
    std::lock_guard lock(q.mutex);
    batch.swap(q.requests);
  }
  for (auto& request : batch) {
    Run(*request);
    if (!request->blocking && request->error) ShowError(request->error);
    std::lock_guard lock(q.mutex);
    request->done = true;
    request->finished.notify_all();
  }
  return !batch.empty();
}

void SetMainThreadWakeup(std::function<void()> wakeup) {
  CallQueue& q = Calls();
  std::lock_guard lock(q.mutex);
  q.wakeup = std::move(wakeup);
}

void ServeMainThreadUntil(const std::function<bool()>& done) {
  CallQueue& q = Calls();
  for (;;) {
    {
      std::unique_lock lock(q.mutex);
      q.mainWaiters.WaitUntil(lock, std::nullopt, [&] { return done() || !q.requests.empty(); });
      if (q.requests.empty()) return;
    }
    CheckSynchronize();
  }
}

bool ServeMainThreadFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  CallQueue& q = Calls();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    {
      std::unique_lock lock(q.mutex);
      const bool ready =
          q.mainWaiters.WaitUntil(lock, deadline, [&] { return done() || !q.requests.empty(); });
      if (!ready) return false;
      if (q.requests.empty()) return true;
    }
    CheckSynchronize();
  }
}

void NotifyMainThreadWaiters() {
  CallQueue& q = Calls();
  { std::lock_guard lock(q.mutex); }
  q.mainWaiters.Notify();
}

}  // namespace platform
