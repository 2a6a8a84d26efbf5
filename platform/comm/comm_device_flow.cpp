#include "platform/comm/comm_device.h"
#include "platform/sync/last_error.h"

// Modem lines and flow control.
namespace platform {

BOOL CommDevice::ModemStatus(DWORD* status) {
  if (!status) return FailWith(ERROR_INVALID_PARAMETER);
  std::lock_guard lock(mutex_);
  if (const DWORD refused = Refusal()) return FailWith(refused);
  if (DWORD err = line_->ModemStatus(*status)) return FailWith(err);
  return TRUE;
}

void CommDevice::UpdateInputFlowControl() {
  if (!dcb_.fInX) {
    if (xoffSent_) line_->SendImmediate(static_cast<uint8_t>(dcb_.XonChar));
    xoffSent_ = false;
    return;
  }
  if (!xoffSent_ && input_.Space() < dcb_.XoffLim) {
    line_->SendImmediate(static_cast<uint8_t>(dcb_.XoffChar));
    xoffSent_ = true;
  } else if (xoffSent_ && input_.Count() <= dcb_.XonLim) {
    line_->SendImmediate(static_cast<uint8_t>(dcb_.XonChar));
    xoffSent_ = false;
  }
}

}  // namespace platform
