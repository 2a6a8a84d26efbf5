#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

namespace platform {

enum class TThreadPriority {
  tpIdle,
  tpLowest,
  tpLower,
  tpNormal,
  tpHigher,
  tpHighest,
  tpTimeCritical
};

// The value a priority has for SetThreadPriority: -15, -2, -1, 0, 1, 2, 15.
int ThreadPriorityValue(TThreadPriority priority);

// Gives the calling thread a SetThreadPriority value; a refused request leaves it as it is.
void ApplyCurrentThreadPriority(int value);

// A thread object: created suspended, started with Start, given a priority, stopped by
// its own cooperation. The exception that ends Execute is kept as the fatal exception.
class TThread {
 public:
  TThread() = default;
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;
  // A derived class whose Execute uses its own members must stop and WaitFor in its own
  // destructor; this one only makes sure the thread is gone.
  virtual ~TThread();

  void Start();
  void SetPriority(TThreadPriority priority) { priority_ = priority; }
  TThreadPriority Priority() const { return priority_; }
  void Terminate() { terminated_ = true; }
  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  std::exception_ptr FatalException() const;

  // Waits for the thread to end. On the main thread it keeps running the calls that
  // threads queue for it, so a thread blocked in Synchronize can finish.
  void WaitFor();

 protected:
  virtual void Execute() = 0;
  // Runs on the thread after Execute has ended, its fatal exception already kept.
  virtual void DoTerminate() {}

 private:
  void Body();

  std::thread thread_;
  std::once_flag joined_;
  TThreadPriority priority_ = TThreadPriority::tpNormal;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  mutable std::mutex errorMutex_;
  std::exception_ptr fatal_;
};

}  // namespace platform
