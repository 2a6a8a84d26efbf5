#include "platform/comm/comm_device.h"
#include "platform/sync/last_error.h"

// Line errors and status: ClearCommError and what the line reports beside its bytes.
namespace platform {

BOOL CommDevice::ClearError(DWORD* errors, COMSTAT* stat) {
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  if (WaitersWatchLine() && input_.Count() == 0 && !LineJustFoundEmpty()) TakeWhatArrived();
  if (gone_) return FailWith(kGoneError);
  if (errors) *errors = errorWord_;
  errorWord_ = 0;
  if (stat) {
    *stat = COMSTAT{};
    stat->fXoffSent = xoffSent_ ? 1 : 0;
    stat->cbInQue = static_cast<DWORD>(input_.Count());
    size_t out = line_->OutputPending();
    for (const auto& w : writes_) out += w.length - w.done;
    stat->cbOutQue = static_cast<DWORD>(out);
  }
  return TRUE;
}

void CommDevice::TakeLineStatus() {
  const LineStatus status = line_->TakeStatus();
  if (status.gone) {
    MarkGone();
    return;
  }
  // Parity is checked only where it was asked for, as with each byte's own errors.
  const DWORD errors = dcb_.fParity ? status.errors : status.errors & ~DWORD{CE_RXPARITY};
  errorWord_ |= errors;
  DWORD events = status.events;
  if (errors & (CE_FRAME | CE_OVERRUN | CE_RXPARITY)) events |= EV_ERR;
  RaiseEvents(events);
}

}  // namespace platform
