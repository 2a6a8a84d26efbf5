#pragma once

#include "platform/win32_types.h"

namespace platform {

// One look at the modem lines: their levels (TIOCM_* bits) and, where the driver counts
// changes (TIOCGICOUNT), the counts, so that a pulse that came and went between two looks
// is not lost.
struct ModemLook {
  int bits = 0;
  bool counted = false;
  int cts = 0, dsr = 0, rng = 0, dcd = 0;
};

// EV_CTS, EV_DSR, EV_RLSD for a line that changed, EV_RING for a ring that began, or one
// that came and went (some drivers count both edges of RI, others only the trailing one).
DWORD ModemEvents(const ModemLook& before, const ModemLook& after);

}  // namespace platform
