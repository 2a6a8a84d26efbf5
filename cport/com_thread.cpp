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

// A cancelled look ends at once where cancelling works.
constexpr DWORD kProbeCancelMs = 200;

// A driver that cannot report the parity-error and 80%-full events (Wine's) refuses the
// whole mask with 50; the others are still worth waiting for.
void WatchEvents(HANDLE device, DWORD mask) {
  if (SetCommMask(device, mask) || GetLastError() != ERROR_NOT_SUPPORTED) return;
  SetCommMask(device, mask & ~(EV_PERR | EV_RX80FULL));
}

}  // namespace

TComThread::TComThread(TCustomComPort* port, uint64_t generation)
    : port_(port),
      stopEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      handBackEvent_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
      generation_(generation) {
  probe_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetPriority(port->ThreadPriority());
  WatchEvents(port->DeviceHandle(), EventsToMask(port->Events()));
  Start();
}

TComThread::~TComThread() {
  if (!ended_) {
    SignalStop();
    WaitFor();
  }
  CloseHandle(probe_.hEvent);
  CloseHandle(handBackEvent_);
}

bool TComThread::HandlerRunningHere() const {
  return (platform::IsMainThread() && inBatch_) || std::this_thread::get_id() == threadId_;
}

void TComThread::EndFromHandler() {
  ended_ = true;
  SetEvent(stopEvent_);
  if (std::this_thread::get_id() == threadId_) return;
  {
    std::lock_guard lock(batchMutex_);
    batchRunning_ = false;
  }
  batchEnded_.notify_one();
  WaitFor();
}

void TComThread::SignalStop() {
  SetEvent(stopEvent_);
  Sleep(0);
}

// The clean-up runs on every way out, an escaping handler error included.
void TComThread::Execute() {
  threadId_ = std::this_thread::get_id();
  const HANDLE device = port_->DeviceHandle();
  // The device writes the mask when a pending wait completes, also during the clean-up,
  // so it lives as long as the overlapped block.
  DWORD mask = 0;
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  // A port that a handler closed has closed the device itself, which ended the wait.
  struct CleanUp {
    HANDLE device, waitEvent, stopEvent;
    const std::atomic<bool>& deviceClosed;
    ~CleanUp() {
      if (!deviceClosed) {
        SetCommMask(device, 0);
        PurgeComm(device, PURGE_TXCLEAR | PURGE_RXCLEAR);
      }
      CloseHandle(waitEvent);
      CloseHandle(stopEvent);
    }
  } cleanUp{device, overlapped.hEvent, stopEvent_, ended_};
  WaitLoop({device, &overlapped, &mask});
}

// While the main thread runs a batch this thread already waits, on the wait's event too,
// and the device's line is watched from here meanwhile. The main thread leaves the next
// wait pending when it is done, so the end of a batch need not wake this thread; it
// touches the wait again only once the batch has ended.
void TComThread::WaitLoop(const EventWait& wait) {
  const HANDLE handles[3] = {stopEvent_, handBackEvent_, wait.overlapped->hEvent};
  bool startWait = true;
  for (;;) {
    if (startWait) StartWait(wait);
    const DWORD woke = WaitForMultipleObjects(3, handles, FALSE, INFINITE);
    AwaitBatchEnd();
    if (ended_) return;
    if (woke == WAIT_OBJECT_0 + 1) {
      startWait = true;
    } else if (woke == WAIT_OBJECT_0 + 2) {
      startWait = TakeResult(wait) ? !DispatchEvents(wait) : WaitEnded();
      if (ended_) return;
    } else {
      return;
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

bool TComThread::TakeResult(const EventWait& wait) {
  DWORD unused = 0;
  if (!GetOverlappedResult(wait.device, wait.overlapped, &unused, FALSE)) return false;
  pendingEvents_ = MaskToEvents(*wait.mask);
  return true;
}

// After a result that could not be taken: false while the wait is still pending (the
// event was left set by a result the main thread took). A wait that ended in failure is
// started again here, and a hand-back the failing batch may have left no longer applies.
bool TComThread::WaitEnded() {
  if (GetLastError() == ERROR_IO_INCOMPLETE) return false;
  ResetEvent(handBackEvent_);
  return true;
}

// Returns whether the main thread took the events, and with them the next wait's start.
bool TComThread::DispatchEvents(const EventWait& wait) {
  switch (port_->SyncMethod()) {
    case smThreadSync:
      HandOver(wait);
      return true;
    case smWindowSync:
      SendEventMessages();
      return false;
    case smNone:
      RunEventHandlers();
      return false;
  }
  return false;
}

void TComThread::HandOver(const EventWait& wait) {
  ResetEvent(wait.overlapped->hEvent);  // its result is taken; the next wait sets it again
  batchRunning_.store(true);
  // The wait lives in this thread's loop, which does not go on before the batch ended.
  platform::Queue([this, &wait] { RunBatch(wait); });
}

// A handler's error ends this thread, as if it had been raised here. The error is written
// before the batch is marked ended, and no batch runs until this thread hands one over.
void TComThread::AwaitBatchEnd() {
  if (batchRunning_.load()) {
    std::unique_lock lock(batchMutex_);
    batchEnded_.wait(lock, [this] { return !batchRunning_.load(); });
  }
  if (batchError_) std::rethrow_exception(std::exchange(batchError_, nullptr));
}

// Runs on the main thread. This thread is woken at the end only when it has to start the
// next wait itself or take the error. A batch whose handler closed the port lets the port
// free this object, as its very last step.
void TComThread::RunBatch(const EventWait& wait) {
  std::exception_ptr error;
  bool waitStarted = false;
  inBatch_ = true;
  try {
    waitStarted = RunDueBatches(wait);
  } catch (...) {
    error = std::current_exception();
  }
  inBatch_ = false;
  if (ended_) {
    port_->ReapEndedThreads();
    return;
  }
  {
    std::lock_guard lock(batchMutex_);
    batchError_ = error;
    batchRunning_.store(false);
    if (error || !waitStarted) SetEvent(handBackEvent_);
  }
  batchEnded_.notify_one();
}

// Events already due when a batch is done (the transmitter emptied by a handler's write,
// more bytes) are handled here, each batch after the one before as this thread would have
// handed them over; then the wait that stays pending is started for this thread. Returns
// whether it was.
bool TComThread::RunDueBatches(const EventWait& wait) {
  for (int batch = 1;; ++batch) {
    RunEventHandlers();
    if (ended_ || batch == kBatchesPerHandOver) return false;
    if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) return false;
    if (!TakeDueEvents(wait.device)) break;
  }
  *wait.mask = 0;
  return WaitCommEvent(wait.device, wait.mask, wait.overlapped) ||
         GetLastError() == ERROR_IO_PENDING;
}

// Looks for events already due with the main thread's own block, so that finding some
// does not set the event this thread waits on. A look, not a wait: one that did not
// complete at once is cancelled, unless it completed meanwhile.
bool TComThread::TakeDueEvents(HANDLE device) {
  if (!probeCancels_) return false;
  probeMask_ = 0;
  if (!WaitCommEvent(device, &probeMask_, &probe_)) {
    if (GetLastError() != ERROR_IO_PENDING) return false;
    EndProbe(device);
    DWORD unused = 0;
    if (!GetOverlappedResult(device, &probe_, &unused, TRUE)) return false;
  }
  pendingEvents_ = MaskToEvents(probeMask_);
  return true;
}

// A driver that does not cancel a pending wait (Wine's) ends it when its mask is set
// again; such a port is not looked at this way again.
void TComThread::EndProbe(HANDLE device) {
  CancelIoEx(device, &probe_);
  if (WaitForSingleObject(probe_.hEvent, kProbeCancelMs) != WAIT_TIMEOUT) return;
  probeCancels_ = false;
  DWORD mask = 0;
  if (GetCommMask(device, &mask)) SetCommMask(device, mask);
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
    if (ended_) return;
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
