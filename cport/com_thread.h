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
  void WaitLoop(HANDLE device, OVERLAPPED& overlapped, DWORD& mask);
  void DispatchEvents();
  void SendEventMessages();
  void RunEventHandlers();

  TCustomComPort* port_;
  HANDLE stopEvent_;
  TComEvents pendingEvents_;
  const uint64_t generation_;
};

}  // namespace cport
