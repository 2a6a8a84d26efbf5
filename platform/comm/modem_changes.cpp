#include "platform/comm/modem_changes.h"

#include <sys/ioctl.h>

namespace platform {

DWORD ModemEvents(const ModemLook& before, const ModemLook& after) {
  const bool counted = before.counted && after.counted;
  const int changed = before.bits ^ after.bits;
  auto moved = [&](int bit, int ModemLook::*count) {
    return (changed & bit) || (counted && after.*count != before.*count);
  };
  DWORD events = 0;
  if (moved(TIOCM_CTS, &ModemLook::cts)) events |= EV_CTS;
  if (moved(TIOCM_DSR, &ModemLook::dsr)) events |= EV_DSR;
  if (moved(TIOCM_CD, &ModemLook::dcd)) events |= EV_RLSD;
  const bool ringOn = after.bits & TIOCM_RNG, wasOn = before.bits & TIOCM_RNG;
  const bool rang = counted && after.rng != before.rng;
  if ((ringOn && !wasOn) || (rang && !ringOn && !wasOn)) events |= EV_RING;
  return events;
}

}  // namespace platform
