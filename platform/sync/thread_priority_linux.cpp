#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include "platform/sync/thread.h"

namespace platform {

// Linux threads have a nice value of their own. Raising priority needs privileges most
// users lack; the thread then keeps the normal one, which is what the program would get
// from a refused request anyway.
void ApplyCurrentThreadPriority(int value) {
  if (value == 0) return;
  const int nice = std::clamp(-value, -20, 19);
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
}

}  // namespace platform
