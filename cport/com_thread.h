#pragma once

#include <cstdint>

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

 protected:
  void Execute() override;
  void DoTerminate() override;

 private:
  // The event wait the thread keeps: the device, its overlapped block and the mask the
  // device fills. The main thread uses it too, while the thread waits in Synchronize.
  struct EventWait {
    HANDLE device;
    OVERLAPPED* overlapped;
    DWORD* mask;
  };

  void WaitLoop(const EventWait& wait);
  void StartWait(const EventWait& wait);
  void DispatchEvents(const EventWait& wait);
  void RunDueBatches(const EventWait& wait);
  void SendEventMessages();
  void RunEventHandlers();

  TCustomComPort* port_;
  HANDLE stopEvent_;
  TComEvents pendingEvents_;
  bool waitStarted_ = false;
  const uint64_t generation_;
};

}  // namespace cport
