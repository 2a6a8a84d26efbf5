#include "platform/comm/network/socket_channel.h"

#include <linux/sockios.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {
namespace {

void Control(int epoll, int op, int fd, uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  epoll_ctl(epoll, op, fd, &event);
}

}  // namespace

SocketChannel::SocketChannel(int socket)
    : socket_(socket),
      epoll_(epoll_create1(EPOLL_CLOEXEC)),
      roomEpoll_(epoll_create1(EPOLL_CLOEXEC)),
      held_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  Control(epoll_, EPOLL_CTL_ADD, socket_, EPOLLIN);
  Control(epoll_, EPOLL_CTL_ADD, held_, EPOLLIN);
}

SocketChannel::~SocketChannel() {
  close(socket_);
  close(epoll_);
  close(roomEpoll_);
  close(held_);
}

void SocketChannel::SetHeld(bool held) {
  if (held == heldSet_) return;
  heldSet_ = held;
  uint64_t value = 1;
  const ssize_t n = held ? write(held_, &value, sizeof value) : read(held_, &value, sizeof value);
  if (n < 0) {
    // Already in that state.
  }
}

ssize_t SocketChannel::Read(uint8_t* buf, size_t cap) {
  if (ended_) {
    errno = ECONNRESET;
    return -1;
  }
  for (;;) {
    const ssize_t n = recv(socket_, buf, cap, MSG_DONTWAIT);
    if (n > 0) return n;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    if (n == 0) errno = ECONNRESET;  // the server closed the connection
    ended_ = true;
    return -1;
  }
}

// The pair rule: data is escaped, so a run of 0xFF just sent that has odd length ends in
// the middle of a doubled one.
bool SocketChannel::MidPair() const {
  size_t run = 0;
  while (run < sent_ && data_[sent_ - 1 - run] == 0xFF) ++run;
  return run % 2 == 1;
}

bool SocketChannel::Flush() {
  while (!ended_) {
    if (!commands_.empty() && (!MidPair() || !HoldsData())) {
      const size_t n = SendSome(commands_.data(), commands_.size());
      commands_.erase(commands_.begin(), commands_.begin() + static_cast<ptrdiff_t>(n));
      if (!commands_.empty()) break;
    } else if (HoldsData()) {
      const size_t wanted = commands_.empty() ? data_.size() - sent_ : 1;
      const size_t n = SendSome(data_.data() + sent_, wanted);
      sent_ += n;
      if (n < wanted) break;
    } else {
      break;
    }
  }
  if (!HoldsData()) {
    data_.clear();
    sent_ = 0;
  }
  WatchForRoom(!ended_ && (HoldsData() || !commands_.empty()));
  return !ended_;
}

// What the socket takes now; a failure other than a full socket ends the connection.
size_t SocketChannel::SendSome(const uint8_t* bytes, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t n = send(socket_, bytes + done, count - done, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) ended_ = true;
      break;
    }
  }
  return done;
}

bool SocketChannel::FlushBy(TimePoint deadline) {
  while (Flush() && (HoldsData() || !commands_.empty())) {
    if (!WaitBy(deadline, false)) return false;
  }
  return !ended_;
}

size_t SocketChannel::Unsent() const {
  int kernel = 0;
  if (ioctl(socket_, SIOCOUTQNSD, &kernel) != 0) kernel = 0;
  return data_.size() - sent_ + static_cast<size_t>(std::max(kernel, 0));
}

void SocketChannel::DropData() {
  size_t keep = sent_;
  if (MidPair()) ++keep;
  data_.resize(std::min(keep, data_.size()));
}

bool SocketChannel::WaitBy(TimePoint deadline, bool input) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) return false;
  const short out = HoldsData() || !commands_.empty() ? POLLOUT : 0;
  pollfd p{socket_, static_cast<short>((input ? POLLIN : 0) | out), 0};
  return poll(&p, 1, static_cast<int>(left.count())) > 0;
}

void SocketChannel::Shutdown() {
  shutdown(socket_, SHUT_RDWR);
  ended_ = true;
  WatchForRoom(false);
}

void SocketChannel::WatchForRoom(bool on) {
  if (on == watchingRoom_) return;
  watchingRoom_ = on;
  Control(roomEpoll_, on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, socket_, EPOLLOUT);
}

}  // namespace platform
