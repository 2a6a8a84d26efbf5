#include "platform/sync/thread.h"
#include "platform/win32_types.h"

namespace platform {

void ApplyCurrentThreadPriority(int value) {
  if (value != 0) SetThreadPriority(GetCurrentThread(), value);
}

}  // namespace platform
