#pragma once

#include <chrono>
#include <functional>

namespace platform {

// The main thread is the one that ran static initialisation (the program's main thread).
bool IsMainThread();

// Runs call on the main thread and waits until it ran; an exception it throws is raised
// again here. On the main thread itself the call runs at once.
void Synchronize(const std::function<void()>& call);

// Hands call to the main thread without waiting. An exception it throws goes to the
// application's error display.
void Queue(std::function<void()> call);

// Runs every call queued for the main thread. Returns whether any ran. Only the main
// thread runs them; elsewhere it does nothing.
bool CheckSynchronize();

// Called (from any thread) whenever a call is queued, so the GUI can wake its event loop
// and run CheckSynchronize there.
void SetMainThreadWakeup(std::function<void()> wakeup);

// Blocks the main thread until done() holds, running queued calls meanwhile. notify must
// be called (under no lock of the caller's) whenever done() may have become true.
void ServeMainThreadUntil(const std::function<bool()>& done);
// The same with a limit; returns whether done() came true in time.
bool ServeMainThreadFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
void NotifyMainThreadWaiters();

}  // namespace platform
