#include "platform/sync/main_thread.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

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
  std::vector<std::shared_ptr<Request>> requests;
  // What the last batch was taken in, kept for the next so that a batch allocates nothing;
  // a call that serves the queue from inside a call of a batch takes a fresh one.
  std::vector<std::shared_ptr<Request>> spare;
  // Requests nobody waited for, done with and kept for the next Queue: a port hands a
  // batch over for every event, and each would otherwise be made on one thread and freed
  // on another.
  std::vector<std::shared_ptr<Request>> recycled;
  std::function<void()> wakeup;
};

constexpr size_t kRecycled = 8;

CallQueue& Calls() {
  static CallQueue* queue = new CallQueue;
  return *queue;
}

// A request for the call, recycled when one is at hand; it is queued at once.
void Enqueue(std::function<void()>&& call, const std::shared_ptr<Request>& blocking) {
  CallQueue& q = Calls();
  std::function<void()> wakeup;
  {
    std::lock_guard lock(q.mutex);
    if (blocking) {
      q.requests.push_back(blocking);
    } else if (q.recycled.empty()) {
      q.requests.push_back(std::make_shared<Request>());
    } else {
      q.requests.push_back(std::move(q.recycled.back()));
      q.recycled.pop_back();
    }
    if (!blocking) q.requests.back()->call = std::move(call);
    wakeup = q.wakeup;
  }
  q.mainWaiters.Notify();
  if (wakeup) wakeup();
}

// Under the queue's lock, once the batch has run and let go of its calls: a request
// nobody else holds is reused.
void Recycle(CallQueue& q, std::vector<std::shared_ptr<Request>>& batch) {
  for (auto& request : batch) {
    if (request->blocking || request.use_count() != 1 || q.recycled.size() == kRecycled) continue;
    q.recycled.push_back(std::move(request));
  }
  batch.clear();
}

void Run(Request& request) {
  try {
    request.call();
  } catch (...) {
    request.error = std::current_exception();
  }
}

// Only a blocking request has a thread waiting for it to be done. What another's call
// held goes now, outside the lock.
void Finish(CallQueue& q, Request& request) {
  if (!request.blocking) {
    if (request.error) ShowError(request.error);
    request.call = nullptr;
    request.error = nullptr;
    return;
  }
  std::lock_guard lock(q.mutex);
  request.done = true;
  request.finished.notify_all();
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
  Enqueue(nullptr, request);
  CallQueue& q = Calls();
  std::unique_lock lock(q.mutex);
  request->finished.wait(lock, [&] { return request->done; });
  if (request->error) std::rethrow_exception(request->error);
}

void Queue(std::function<void()> call) { Enqueue(std::move(call), nullptr); }

bool CheckSynchronize() {
  if (!IsMainThread()) return false;
  CallQueue& q = Calls();
  std::vector<std::shared_ptr<Request>> batch;
  {
    std::lock_guard lock(q.mutex);
    batch.swap(q.spare);
    batch.swap(q.requests);
  }
  for (auto& request : batch) {
    Run(*request);
    Finish(q, *request);
  }
  const bool ran = !batch.empty();
  std::lock_guard lock(q.mutex);
  Recycle(q, batch);
  if (batch.capacity() > q.spare.capacity()) q.spare.swap(batch);
  return ran;
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
