#include "platform/comm/posix_termios.h"

#include <cmath>

namespace platform {
namespace {

tcflag_t DataBitsFlag(BYTE size) {
  switch (size) {
    case 5:
      return CS5;
    case 6:
      return CS6;
    case 7:
      return CS7;
    default:
      return CS8;
  }
}

tcflag_t ParityFlags(BYTE parity) {
  switch (parity) {
    case ODDPARITY:
      return PARENB | PARODD;
    case EVENPARITY:
      return PARENB;
    case MARKPARITY:
      return PARENB | PARODD | CMSPAR;
    case SPACEPARITY:
      return PARENB | CMSPAR;
    default:
      return 0;
  }
}

}  // namespace

termios2 TermiosForDcb(const DCB& dcb, const termios2& current, bool lineErrorsPossible) {
  termios2 t{};
  t.c_line = current.c_line;
  // Errors and breaks are always marked in the data, so that the byte with the error is the
  // one reported; without fParity the device keeps such a byte as it came. A line that
  // cannot have them (a pty) is not marked: marking costs the kernel its copy-only input
  // path, and doubles every 0xFF.
  t.c_iflag = (lineErrorsPossible ? INPCK | PARMRK : 0) | (dcb.fOutX ? IXON : 0);
  t.c_cflag = CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT) | DataBitsFlag(dcb.ByteSize) |
              ParityFlags(dcb.Parity) | (dcb.StopBits != ONESTOPBIT ? CSTOPB : 0);
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
  t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
  t.c_ispeed = t.c_ospeed = dcb.BaudRate;
  return t;
}

bool DriverTook(const termios2& wanted, const termios2& applied, bool wired) {
  constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
  constexpr double kBaudTolerance = 0.03;
  const double speed = wanted.c_ospeed;
  const bool framed = !wired || (applied.c_cflag & kFraming) == (wanted.c_cflag & kFraming);
  return framed && std::fabs(double(applied.c_ospeed) - speed) <= kBaudTolerance * speed;
}

bool TermiosCanCarry(const DCB& dcb) {
  return !dcb.fOutxDsrFlow && dcb.fDtrControl != DTR_CONTROL_HANDSHAKE;
}

}  // namespace platform
