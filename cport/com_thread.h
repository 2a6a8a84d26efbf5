#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

#include "cport/vocabulary.h"
#include "platform/sync/thread.h"
#include "platform/win32_types.h"

namespace cport {

class TCustomComPort;

// The event thread of an open port: one overlapped wait for serial events and a stop
// event, and each batch of events handed over by the port's SyncMethod.
class TComThread : public platform::TThread {
 public:
  TComThread(TCustomComPort* port, uint64_t generation);
  ~TComThread() override;

  void SignalStop();
  // Whether the caller is one of this thread's handlers: in its batch on the main thread,
  // or on the thread itself.
  bool HandlerRunningHere() const;
  // A handler closes the port: the batch ends once that handler returns, and the thread
  // stops without touching the device again. From the main thread's batch it waits for
  // the thread to end; on the thread itself it cannot.
  void EndFromHandler();
  bool BatchOnStack() const { return inBatch_; }

 protected:
  void Execute() override;
  void DoTerminate() override;

 private:
  // The event wait the thread keeps: the device, its overlapped block and the mask the
  // device fills. The main thread uses it too, while it runs a batch.
  struct EventWait {
    HANDLE device;
    OVERLAPPED* overlapped;
    DWORD* mask;
  };

  void WaitLoop(const EventWait& wait);
  void StartWait(const EventWait& wait);
  bool TakeResult(const EventWait& wait);
  bool WaitEnded();
  bool DispatchEvents(const EventWait& wait);
  void HandOver(const EventWait& wait);
  void AwaitBatchEnd();
  void RunBatch(const EventWait& wait);
  bool RunDueBatches(const EventWait& wait);
  bool TakeDueEvents(HANDLE device);
  void EndProbe(HANDLE device);
  void SendEventMessages();
  void RunEventHandlers();

  TCustomComPort* port_;
  HANDLE stopEvent_;
  HANDLE handBackEvent_;  // a batch ended without leaving a wait pending, or failed
  TComEvents pendingEvents_;
  const uint64_t generation_;
  // The main thread's own block, to look for events already due without waking this thread.
  OVERLAPPED probe_{};
  DWORD probeMask_ = 0;
  bool probeCancels_ = true;
  std::mutex batchMutex_;
  std::condition_variable batchEnded_;
  std::atomic<bool> batchRunning_{false};
  std::exception_ptr batchError_;
  bool inBatch_ = false;  // the main thread runs a batch of this thread now
  std::atomic<bool> ended_{false};
  std::thread::id threadId_;
};

}  // namespace cport
