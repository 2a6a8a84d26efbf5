#pragma once

#include <memory>
#include <string>

#include "platform/comm/byte_line.h"

namespace platform {

// A real tty or pseudo-terminal as a byte line. Null with a Win32 error code when the
// device cannot be had: missing (2), in use or forbidden (5), not a terminal (50).
std::unique_ptr<ByteLine> OpenPosixLine(const std::string& path, DWORD& error);

}  // namespace platform
