#include "window_pinger.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>

namespace terminals {
namespace {

using Clock = WindowPinger::Clock;

double MillisSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

int MillisUntil(Clock::time_point t) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(t - Clock::now()).count();
  return static_cast<int>(std::max<int64_t>(0, left));
}

}  // namespace

WindowPinger::WindowPinger(const std::string& display, Window window,
                           std::chrono::milliseconds interval)
    : display_(XOpenDisplay(display.c_str())),
      window_(window),
      interval_(interval),
      stopFd_(eventfd(0, EFD_CLOEXEC)) {
  if (!display_) return;
  protocols_ = XInternAtom(display_, "WM_PROTOCOLS", False);
  ping_ = XInternAtom(display_, "_NET_WM_PING", False);
  // The answer goes to the root window, to whoever listens for its changes (Qt) or its
  // children's (GTK).
  XSelectInput(display_, DefaultRootWindow(display_), StructureNotifyMask | SubstructureNotifyMask);
  XSync(display_, False);
  thread_ = std::thread([this] { Run(); });
}

WindowPinger::~WindowPinger() {
  Stop();
  if (display_) XCloseDisplay(display_);
  close(stopFd_);
}

WindowPinger::Answers WindowPinger::Stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) return answers_;
    thread_.join();
  }
  return answers_;
}

// One question at a time: the next is asked an interval after the last was, or at once
// when its answer came later than that.
void WindowPinger::Run() {
  for (long serial = 1;; ++serial) {
    const auto asked = Clock::now();
    Ask(serial);
    ++answers_.asked;
    if (!AwaitAnswer(serial, asked) || !IdleUntil(asked + interval_)) return;
  }
}

// False when told to stop first; the open question then counts with its wait so far.
bool WindowPinger::AwaitAnswer(long serial, Clock::time_point asked) {
  for (;;) {
    if (TakeEvents(serial)) {
      ++answers_.answered;
      answers_.longestMs = std::max(answers_.longestMs, MillisSince(asked));
      return true;
    }
    if (Wait(-1) == Woke::kStop) {
      answers_.longestMs = std::max(answers_.longestMs, MillisSince(asked));
      return false;
    }
  }
}

bool WindowPinger::IdleUntil(Clock::time_point next) {
  for (;;) {
    TakeEvents(0);
    const Woke woke = Wait(MillisUntil(next));
    if (woke != Woke::kServer) return woke == Woke::kTime;
  }
}

WindowPinger::Woke WindowPinger::Wait(int timeoutMs) {
  if (XPending(display_)) return Woke::kServer;
  pollfd fds[2] = {{stopFd_, POLLIN, 0}, {ConnectionNumber(display_), POLLIN, 0}};
  if (poll(fds, 2, timeoutMs) == 0) return Woke::kTime;
  return fds[0].revents ? Woke::kStop : Woke::kServer;
}

void WindowPinger::Ask(long serial) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window_;
  event.xclient.message_type = protocols_;
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(ping_);
  event.xclient.data.l[1] = serial;  // echoed back: which question this answers
  event.xclient.data.l[2] = static_cast<long>(window_);
  XSendEvent(display_, window_, False, NoEventMask, &event);
  XFlush(display_);
}

bool WindowPinger::IsAnswer(const XEvent& event, long serial) const {
  return event.type == ClientMessage && event.xclient.message_type == protocols_ &&
         static_cast<Atom>(event.xclient.data.l[0]) == ping_ && event.xclient.data.l[1] == serial;
}

// Whether the answer to that question was among what the server sent.
bool WindowPinger::TakeEvents(long serial) {
  bool answered = false;
  while (XPending(display_)) {
    XEvent event;
    XNextEvent(display_, &event);
    answered |= IsAnswer(event, serial);
  }
  return answered;
}

}  // namespace terminals
