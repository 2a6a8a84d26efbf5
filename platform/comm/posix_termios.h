#pragma once

// The kernel's termios2 carries any baud rate; it clashes with glibc's <termios.h>, so
// nothing that includes this header may include that one.
#include <asm/termbits.h>

#include "platform/win32_types.h"

namespace platform {

// The termios of a DCB: raw 8-bit input and output, CMSPAR for mark and space, CSTOPB
// for 1.5 stop bits at 5 data bits (what a UART does with it), CRTSCTS for either RTS/CTS
// handshake since Linux couples both directions, IXON for XON/XOFF output (input flow is
// the device's, which sends XOFF itself), INPCK with PARMRK so that errors and breaks are
// marked in the data where the line can have them, VMIN 1 so that a read of 0 bytes only
// ever means hang-up.
termios2 TermiosForDcb(const DCB& dcb, const termios2& current, bool lineErrorsPossible = true);

// Whether the driver took what was asked, read back after setting it: a driver may
// silently keep what it cannot do (an FT232 has no 6 data bits) or set another speed (a
// 16550 sets 9600 above its base). The speed may differ by the 3% a UART's divisor does.
// A pty keeps 8 bits without parity whatever it is asked, having no wire for framing to
// matter on: with wired false, only the speed is compared.
bool DriverTook(const termios2& wanted, const termios2& applied, bool wired = true);

// Linux has no DSR/DTR flow control: a DCB that asks for it cannot be carried out.
bool TermiosCanCarry(const DCB& dcb);

}  // namespace platform
