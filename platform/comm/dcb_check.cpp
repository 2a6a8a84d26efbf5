#include "platform/comm/dcb_check.h"

namespace platform {

bool IsValidDcb(const DCB& d) {
  if (d.BaudRate == 0 || d.ByteSize < 5 || d.ByteSize > 8) return false;
  if (d.XonChar == d.XoffChar) return false;
  if (d.Parity > SPACEPARITY || d.StopBits > TWOSTOPBITS) return false;
  if (d.StopBits == ONE5STOPBITS && d.ByteSize != 5) return false;
  if (d.StopBits == TWOSTOPBITS && d.ByteSize == 5) return false;
  return true;
}

}  // namespace platform
