#pragma once

#include <string>

#include "platform/win32_types.h"

namespace platform {

// Why a network port (rfc2217://host:port, socket://host:port) would not open, or stopped
// delivering, in plain words and with what to do.
std::string ExplainNetworkOpenFailure(const std::string& name, DWORD error);
std::string ExplainNetworkLoss(const std::string& name, DWORD error);

}  // namespace platform
