#include "pty_line.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "process_figures.h"
#include "protocol.h"

namespace terminals {
namespace {

using Clock = std::chrono::steady_clock;

void MakeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

void Advance(timespec& t, long nanoseconds) {
  t.tv_nsec += nanoseconds;
  while (t.tv_nsec >= 1000000000) {
    t.tv_nsec -= 1000000000;
    ++t.tv_sec;
  }
}

}  // namespace

PtyLine::PtyLine() {
  instrument_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (instrument_ < 0 || grantpt(instrument_) != 0 || unlockpt(instrument_) != 0) return;
  MakeRaw(instrument_);
  port_ = ptsname(instrument_);
  kept_ = open(port_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (kept_ < 0) return;
  MakeRaw(kept_);
  inotify_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  watch_ = inotify_add_watch(inotify_, port_.c_str(), IN_OPEN);
}

PtyLine::~PtyLine() {
  for (int fd : {inotify_, kept_, instrument_}) {
    if (fd >= 0) close(fd);
  }
}

bool PtyLine::Send(const std::string& bytes) {
  bool blocked = false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(instrument_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      blocked = true;
      WaitForRoom();
    } else {
      return blocked;
    }
  }
  return blocked;
}

// What the program sends back is read and dropped, so that it never fills its side.
void PtyLine::WaitForRoom() {
  pollfd p{instrument_, POLLOUT | POLLIN, 0};
  poll(&p, 1, 1000);
  char sink[4096];
  if (p.revents & POLLIN) {
    while (read(instrument_, sink, sizeof sink) > 0) {
    }
  }
}

size_t PtyLine::Unread() const {
  int count = 0;
  if (ioctl(kept_, FIONREAD, &count) != 0) return 0;
  return static_cast<size_t>(count);
}

bool PtyLine::WaitUntilHeldBy(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  char events[4096];
  while (!HoldsFile(pid, port_)) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{inotify_, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
    while (read(inotify_, events, sizeof events) > 0) {
    }
  }
  return true;
}

FeedReport FeedStream(PtyLine& line, uint32_t first, uint32_t count, int rate) {
  FeedReport report;
  timespec due{};
  clock_gettime(CLOCK_MONOTONIC, &due);
  for (uint32_t i = 0; i < count; ++i) {
    if (line.Send(StreamFrame(first + i))) ++report.blocked;
    ++report.frames;
    Advance(due, 1000000000L / rate);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr);
  }
  return report;
}

std::string StreamFrame(uint32_t seq) {
  return sim::STX + sim::StreamText(seq) + sim::CR + sim::LF;
}

}  // namespace terminals
