#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <string>

#include "picture.h"

namespace terminals {

// An X server of the bench's own, on a display number it picks itself.
class XServer {
 public:
  XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;
  ~XServer();

  bool Ready() const { return !name_.empty(); }
  const std::string& Name() const { return name_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// One connection to the server, used by one thread: finds a program's window, places it,
// gives or takes the keyboard focus and reads what the window shows.
class XConnection {
 public:
  explicit XConnection(const std::string& display);
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;
  ~XConnection();

  bool Ready() const { return display_ != nullptr; }
  // The largest window the process has mapped on the screen, waiting for it to appear;
  // 0 when none did in time.
  Window WaitForWindowOf(pid_t pid, std::chrono::milliseconds limit);
  void Place(Window window, int width, int height);
  void Focus(Window window);
  void DropFocus();
  // As a window manager's close button does, so that the program ends in its own way.
  void AskToClose(Window window);
  Picture Capture(Window window);

 private:
  Window LargestWindowOf(pid_t pid);
  pid_t PidOf(Window window);
  bool WaitForEvents(std::chrono::steady_clock::time_point deadline);

  Display* display_ = nullptr;
  Atom pidAtom_ = 0;
};

}  // namespace terminals
