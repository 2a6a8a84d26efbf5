#pragma once

#include <functional>
#include <memory>

#include "platform/win32_types.h"

#ifndef _WIN32
HANDLE CreateEventA(void* securityAttributes, BOOL manualReset, BOOL initialState, LPCSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
void Sleep(DWORD milliseconds);

namespace platform {

// Work a waiting thread may do itself rather than sleep until another thread has done it.
// While a helper is attached to an event, a thread waiting for that event also polls the
// helper's descriptor and, when it is ready, runs Serve, which may set the event. A comm
// device attaches one to the event of a pending read or event wait, and leaves it there,
// so the waiter takes arriving bytes off the line without a hand-over from the device's
// own thread.
class EventHelper {
 public:
  virtual ~EventHelper() = default;
  // The descriptor to poll for readability now; -1 when there is nothing to wait for.
  virtual int PollFd() = 0;
  virtual void Serve() = 0;
  // Called after each poll for which PollFd gave a descriptor, once Serve has run.
  virtual void Unpolled() {}
};

// Sets the event and runs publish (which stores a result the event announces) as one step
// against ResetEvent: a thread the set wakes sees what publish stored, and a thread that
// sees it and then resets the event for its next use cannot be overtaken by this set.
BOOL SetEventWith(HANDLE event, const std::function<void()>& publish);

void AttachEventHelper(HANDLE event, const std::shared_ptr<EventHelper>& helper);
// Detaches the helper if it is still the event's: another may have taken its place.
void DetachEventHelper(HANDLE event, const EventHelper* helper);

}  // namespace platform
#endif
