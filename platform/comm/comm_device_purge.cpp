#include "platform/comm/comm_device.h"
#include "platform/sync/last_error.h"

// PurgeComm and CancelIoEx: ending operations before their time, emptying the queues.
namespace platform {

BOOL CommDevice::Purge(DWORD flags) {
  if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  if (gone_) return TRUE;  // everything pending already ended with the device
  if (flags & PURGE_TXABORT) {
    for (auto& w : writes_) Complete(w.overlapped, ERROR_OPERATION_ABORTED, w.done);
    writes_.clear();
  }
  if (flags & PURGE_RXABORT) {
    for (auto& r : reads_) Complete(r.overlapped, ERROR_OPERATION_ABORTED, r.done);
    reads_.clear();
  }
  if (flags & PURGE_TXCLEAR) {
    line_->Purge(false, true);
    wireFree_ = Clock::now();  // what the line still holds, it counts itself
  }
  if (flags & PURGE_RXCLEAR) {
    input_.Clear();
    line_->Purge(true, false);
    lineReadable_ = true;
    waitersServe_ = false;  // a waiter that found no room polls nothing: the driver looks
    UpdateInputFlowControl();
  }
  Wake();
  return TRUE;
}

// Ends the pending operations of that block, or all of them without one, with 995; 1168
// when none was pending (it may have completed meanwhile). A timer the driver set for them
// finds nothing to end.
BOOL CommDevice::Cancel(OVERLAPPED* overlapped) {
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  const auto chosen = [overlapped](const auto& op) {
    return !overlapped || op.overlapped == overlapped;
  };
  bool found = false;
  const auto cancel = [&](auto& ops) {
    for (auto it = ops.begin(); it != ops.end();) {
      if (!chosen(*it)) {
        ++it;
        continue;
      }
      Complete(it->overlapped, ERROR_OPERATION_ABORTED, it->done);
      it = ops.erase(it);
      found = true;
    }
  };
  cancel(reads_);
  cancel(writes_);
  if (wait_ && chosen(*wait_)) {
    *wait_->mask = 0;
    Complete(wait_->overlapped, ERROR_OPERATION_ABORTED, 0);
    wait_.reset();
    found = true;
  }
  return found ? TRUE : FailWith(ERROR_NOT_FOUND);
}

}  // namespace platform
