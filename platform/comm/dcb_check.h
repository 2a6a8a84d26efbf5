#pragma once

#include "platform/win32_types.h"

namespace platform {

// The checks SetCommState makes on every line before the line sees the settings.
bool IsValidDcb(const DCB& dcb);

}  // namespace platform
