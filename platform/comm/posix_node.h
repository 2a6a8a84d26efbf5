#pragma once

#include <sys/types.h>

#include <string>

#include "platform/win32_types.h"

namespace platform {

// Looks at what a port name leads to before anything opens it for writing or locks it:
// 0 for a serial port or a pseudo-terminal's slave; ERROR_NOT_SUPPORTED for any other
// node (a file, /dev/null, the controlling terminal, a virtual console); the Win32 code of
// the failure when there is nothing to look at. rdev receives the node's device number.
DWORD CheckSerialNode(const std::string& path, dev_t& rdev);

// The serial8250 driver registers ports with no UART behind them. They open, and report
// type 0 with no I/O port and no interrupt in sysfs. USB-serial ports report type 0 through
// TIOCGSERIAL too but have no such attributes, so only sysfs tells the two apart.
bool IsEmptyUartSlot(dev_t rdev);

}  // namespace platform
