#include "x_display.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace terminals {
namespace {

using Clock = std::chrono::steady_clock;

// Xvfb writes the display number it took to the descriptor it was given, once it listens.
std::string ReadDisplayNumber(int fd) {
  std::string text;
  char buf[32];
  while (text.find('\n') == std::string::npos) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 20000) <= 0) return {};
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return {};
    text.append(buf, static_cast<size_t>(n));
  }
  return ":" + text.substr(0, text.find('\n'));
}

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<int64_t>(0, left.count()));
}

}  // namespace

XServer::XServer() {
  int out[2];
  if (pipe(out) != 0) return;
  fcntl(out[0], F_SETFD, FD_CLOEXEC);
  std::vector<std::string> args = {"Xvfb",      "-displayfd", std::to_string(out[1]),
                                   "-screen",   "0",          "1280x1024x24",
                                   "-nolisten", "tcp",        "-noreset"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // It tells of every display number it finds taken on its way to a free one.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  if (posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (pid_ > 0) name_ = ReadDisplayNumber(out[0]);
  close(out[0]);
}

XServer::~XServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

XConnection::XConnection(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
  if (!display_) return;
  pidAtom_ = XInternAtom(display_, "_NET_WM_PID", False);
  XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
}

XConnection::~XConnection() {
  if (display_) XCloseDisplay(display_);
}

Window XConnection::WaitForWindowOf(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (const Window w = LargestWindowOf(pid)) return w;
    if (!WaitForEvents(deadline)) return 0;
  }
}

// Without a window manager the server places windows where asked.
void XConnection::Place(Window window, int width, int height) {
  XMoveResizeWindow(display_, window, 0, 0, static_cast<unsigned>(width),
                    static_cast<unsigned>(height));
  XSync(display_, False);
}

void XConnection::Focus(Window window) {
  XSetInputFocus(display_, window, RevertToPointerRoot, CurrentTime);
  XSync(display_, False);
}

// No window has the keyboard, so none blinks a cursor while it is measured.
void XConnection::DropFocus() {
  XSetInputFocus(display_, None, RevertToNone, CurrentTime);
  XSync(display_, False);
}

void XConnection::AskToClose(Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

Picture XConnection::Capture(Window window) {
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display_, window, &attributes)) return {};
  XImage* image = XGetImage(display_, window, 0, 0, static_cast<unsigned>(attributes.width),
                            static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (!image) return {};
  Picture p{attributes.width, attributes.height, {}};
  p.pixels.reserve(static_cast<size_t>(p.width) * p.height);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      p.pixels.push_back(static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF);
    }
  }
  XDestroyImage(image);
  return p;
}

Window XConnection::LargestWindowOf(pid_t pid) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count)) {
    return 0;
  }
  Window best = 0;
  long bestArea = 100 * 100;  // leaders, selection owners and tooltips are smaller
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(display_, children[i], &a) || a.map_state != IsViewable) continue;
    const long area = static_cast<long>(a.width) * a.height;
    if (area > bestArea && PidOf(children[i]) == pid) {
      best = children[i];
      bestArea = area;
    }
  }
  if (children) XFree(children);
  return best;
}

pid_t XConnection::PidOf(Window window) {
  Atom type = 0;
  int format = 0;
  unsigned long items = 0, after = 0;
  unsigned char* data = nullptr;
  pid_t pid = -1;
  if (XGetWindowProperty(display_, window, pidAtom_, 0, 1, False, XA_CARDINAL, &type, &format,
                         &items, &after, &data) == Success &&
      data && items == 1 && format == 32) {
    pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
  }
  if (data) XFree(data);
  return pid;
}

// Sleeps until the server reports something (a window mapped, a property set) or the time
// is up; the events themselves only say that it is worth looking again.
bool XConnection::WaitForEvents(Clock::time_point deadline) {
  XFlush(display_);
  if (!XPending(display_)) {
    pollfd p{ConnectionNumber(display_), POLLIN, 0};
    if (poll(&p, 1, MillisLeft(deadline)) <= 0) return false;
  }
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
  }
  return true;
}

}  // namespace terminals
