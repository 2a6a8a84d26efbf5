#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace terminals {

// Asks a window whether its program is still answering, as a window manager does
// (_NET_WM_PING), once per interval: a program answers when its event loop gets to the
// message, so the longest wait for an answer is how long a click would have waited.
class WindowPinger {
 public:
  using Clock = std::chrono::steady_clock;
  struct Answers {
    int asked = 0;
    int answered = 0;
    double longestMs = 0;
  };

  WindowPinger(const std::string& display, Window window, std::chrono::milliseconds interval);
  WindowPinger(const WindowPinger&) = delete;
  WindowPinger& operator=(const WindowPinger&) = delete;
  ~WindowPinger();

  // Stops asking; a question still open counts with the time it has waited so far.
  Answers Stop();

 private:
  enum class Woke { kTime, kServer, kStop };

  void Run();
  bool AwaitAnswer(long serial, Clock::time_point asked);
  bool IdleUntil(Clock::time_point next);
  Woke Wait(int timeoutMs);
  void Ask(long serial);
  bool IsAnswer(const XEvent& event, long serial) const;
  bool TakeEvents(long serial);

  Display* display_;
  const Window window_;
  const std::chrono::milliseconds interval_;
  Atom protocols_ = 0;
  Atom ping_ = 0;
  int stopFd_ = -1;
  Answers answers_;
  std::thread thread_;
};

}  // namespace terminals
