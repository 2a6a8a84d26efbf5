#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/win32_types.h"

namespace platform {

// A TCP connection to host:port, made within the time given, whatever the system's own
// limits (its connect waits two minutes): a non-blocking socket with keep-alive on, so that
// a peer that died is noticed within a minute. -1 with a Win32 error otherwise: 10061
// (refused), 11001 (unknown host), 11002 (no name server answered), 10060 (no answer in
// time), 10065/10051 (no route).
int ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
               DWORD& error);

}  // namespace platform
