#include "platform/comm/comm_device.h"
#include "platform/sync/last_error.h"

// Event waits and masks: SetCommMask, WaitCommEvent and the history they share.
namespace platform {

// A new mask forgets the history and completes a pending wait with an empty mask. A gone
// device has nothing left to wait for, so this still succeeds there and lets a closing
// program clean up.
BOOL CommDevice::SetMask(DWORD mask) {
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  eventMask_ = mask;
  history_ = 0;
  if (wait_) {
    *wait_->mask = 0;
    Complete(wait_->overlapped, ERROR_SUCCESS, 0);
    wait_.reset();
  }
  return TRUE;
}

BOOL CommDevice::GetMask(DWORD* mask) {
  if (!mask) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (stopping_) return FailWith(ERROR_INVALID_HANDLE);
  *mask = eventMask_;
  return TRUE;
}

BOOL CommDevice::WaitEvent(DWORD* mask, OVERLAPPED* overlapped) {
  if (!mask || !overlapped) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  if (wait_ || eventMask_ == 0) return FailWith(ERROR_INVALID_PARAMETER);
  MarkPending(overlapped);
  // As for a count: within a character's time of finding the line empty there is nothing
  // new to look for, and what comes later the wait's helper or the driver takes.
  if (!(history_ & eventMask_) && !LineJustFoundEmpty()) TakeWhatArrived();
  if (gone_) {
    Complete(overlapped, kGoneError, 0);
    return FailWith(kGoneError);
  }
  if (const DWORD hit = history_ & eventMask_) {
    history_ = 0;
    *mask = hit;
    Complete(overlapped, ERROR_SUCCESS, 0);
    return TRUE;
  }
  wait_ = PendingWait{overlapped, mask};
  HelpWaiter(overlapped);
  ServeUnlessWaited(overlapped);
  return FailWith(ERROR_IO_PENDING);
}

void CommDevice::RaiseEvents(DWORD events) {
  history_ |= events & eventMask_;
  if (wait_ && history_) {
    *wait_->mask = history_;
    history_ = 0;
    Complete(wait_->overlapped, ERROR_SUCCESS, 0);
    wait_.reset();
  }
}

}  // namespace platform
