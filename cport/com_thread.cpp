#include "cport/com_thread.h"

#include <array>
#include <memory>
#include <utility>

#include "cport/comport.h"
#include "cport/errors.h"
#include "platform/sync/main_thread.h"
#include "platform/windows.h"

namespace cport {
namespace {

struct Dispatch {
  TComEvent event;
  void (TCustomComPort::*handle)();
};

// The fixed order in which one batch is handled.
constexpr std::array<Dispatch, 10> kOrder = {{
    {evError, &TCustomComPort::HandleError},
    {evRxChar, &TCustomComPort::HandleRxChar},
    {evTxEmpty, &TCustomComPort::HandleTxEmpty},
    {evBreak, &TCustomComPort::HandleBreak},
    {evRing, &TCustomComPort::HandleRing},
    {evCTS, &TCustomComPort::HandleCTSChange},
    {evDSR, &TCustomComPort::HandleDSRChange},
    {evRxFlag, &TCustomComPort::HandleRxFlag},
    {evRLSD, &TCustomComPort::HandleRLSDChange},
    {evRx80Full, &TCustomComPort::HandleRx80Full},
}};

// Batches the main thread takes in one hand-over at most, so a steady stream still lets
// it return to its own work between hand-overs.
constexpr int kBatchesPerHandOver = 32;

}  // namespace

TComThread::TComThread(TCustomComPort* port, uint64_t generation)
    : port_(port),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      generation_(generation) {
  SetPriority(port->ThreadPriority());
  SetCommMask(port->DeviceHandle(), EventsToMask(port->Events()));
  Start();
}

TComThread::~TComThread() {
  SignalStop();
  WaitFor();
}

void TComThread::SignalStop() {
  SetEvent(stopEvent_);
  Sleep(0);
}

// The clean-up runs on every way out, an escaping handler error included.
void TComThread::Execute() {
  const HANDLE device = port_->DeviceHandle();
  // The device writes the mask when a pending wait completes, also during the clean-up,
  // so it lives as long as the overlapped block.
  DWORD mask = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  struct CleanUp {
    HANDLE device, waitEvent, stopEvent;
    ~CleanUp() {
      SetCommMask(device, 0);
      PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
      CloseHandle(waitEvent);
      CloseHandle(stopEvent);
    }
  } cleanUp{device, overlapped.hEvent, stopEvent_};
  WaitLoop({device, &overlapped, &mask});
}

void TComThread::WaitLoop(const EventWait& wait) {
  const HANDLE handles[2] = {stopEvent_, wait.overlapped->hEvent};
  for (;;) {
    if (!std::exchange(waitStarted_, false)) StartWait(wait);
    if (WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) return;
    DWORD unused = 0;
    if (GetOverlappedResult(wait.device, wait.overlapped, &unused, FALSE)) {
      pendingEvents_ = MaskToEvents(*wait.mask);
      DispatchEvents(wait);
    }
  }
}

// A wait that fails at once (the device is gone) would leave the event signalled with the
// last result: stop instead of spinning on a stale mask.
void TComThread::StartWait(const EventWait& wait) {
  *wait.mask = 0;
  if (!WaitCommEvent(wait.device, wait.mask, wait.overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    throw EComPort(peWaitForEvent, static_cast<int>(GetLastError()));
  }
}

void TComThread::DispatchEvents(const EventWait& wait) {
  switch (port_->SyncMethod()) {
    case smThreadSync:
      platform::Synchronize([this, &wait] { RunDueBatches(wait); });
      break;
    case smWindowSync:
      SendEventMessages();
      break;
    case smNone:
      RunEventHandlers();
      break;
  }
}

// Runs on the main thread while this thread waits in Synchronize. Events already due when
// a batch is done (the transmitter emptied by a handler's write, more bytes) are handled
// here, each batch after the one before as this thread would have handed them over, and
// the wait that stays pending is left for this thread.
void TComThread::RunDueBatches(const EventWait& wait) {
  for (int batch = 0;; ++batch) {
    RunEventHandlers();
    if (batch + 1 == kBatchesPerHandOver) return;
    if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) return;
    *wait.mask = 0;
    if (!WaitCommEvent(wait.device, wait.mask, wait.overlapped)) {
      waitStarted_ = GetLastError() == ERROR_IO_PENDING;
      return;
    }
    waitStarted_ = true;
    DWORD unused = 0;
    if (!GetOverlappedResult(wait.device, wait.overlapped, &unused, FALSE)) return;
    waitStarted_ = false;
    pendingEvents_ = MaskToEvents(*wait.mask);
  }
}

void TComThread::SendEventMessages() {
  for (const Dispatch& d : kOrder) {
    if (pendingEvents_.Contains(d.event)) {
      SendMessageA(port_->window_, WM_COMPORTEVENT, EventMaskBit(d.event), 0);
    }
  }
}

void TComThread::RunEventHandlers() {
  for (const Dispatch& d : kOrder) {
    if (pendingEvents_.Contains(d.event)) (port_->*d.handle)();
  }
}

// An error that ended the loop reaches the port's owner on the main thread, if the port
// still has this thread by then.
void TComThread::DoTerminate() {
  const std::exception_ptr error = FatalException();
  if (!error) return;
  std::weak_ptr<TCustomComPort*> self = port_->self_;
  const uint64_t generation = generation_;
  platform::Queue([self, generation, error] {
    auto port = self.lock();
    if (port && *port) (*port)->ReportEventThreadError(generation, error);
  });
}

}  // namespace cport
