#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/comm/byte_line.h"

namespace platform {

// Connecting and the first exchange with the server, together, take no longer.
constexpr auto kNetworkOpenTime = std::chrono::seconds(3);

// The line to a network port (see NetworkPortName). Null with a Win32 error when it
// cannot be had: a malformed name (123), the port already open here (5), what the
// connection failed with (see ConnectTcp), or a server that took the connection but never
// spoke telnet (121).
std::unique_ptr<ByteLine> OpenNetworkLine(const std::string& name, DWORD& error);

}  // namespace platform
