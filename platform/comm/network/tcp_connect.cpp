#include "platform/comm/network/tcp_connect.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/sync/last_error.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kKeepAliveIdleSeconds = 20;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 3;
constexpr unsigned kUnacknowledgedLimitMs = 50000;

// One name lookup. getaddrinfo takes no time limit, so a name runs on a thread of its
// own, which the caller may stop waiting for; the thread then finishes by itself.
struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int status = EAI_AGAIN;
  addrinfo* result = nullptr;
  ~Lookup() {
    if (result) freeaddrinfo(result);
  }
};

int Resolve(const std::string& host, uint16_t port, int flags, addrinfo** result) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags | AI_NUMERICSERV;
  return getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, result);
}

std::shared_ptr<Lookup> LookUp(const std::string& host, uint16_t port, Clock::time_point deadline) {
  auto lookup = std::make_shared<Lookup>();
  if (Resolve(host, port, AI_NUMERICHOST, &lookup->result) == 0) {
    lookup->status = 0;
    return lookup;
  }
  std::thread([lookup, host, port] {
    addrinfo* result = nullptr;
    const int status = Resolve(host, port, 0, &result);
    std::lock_guard lock(lookup->mutex);
    lookup->status = status;
    lookup->result = result;
    lookup->finished = true;
    lookup->done.notify_all();
  }).detach();
  std::unique_lock lock(lookup->mutex);
  if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) return nullptr;
  return lookup;
}

DWORD LookupError(int status) {
  if (status == EAI_AGAIN || status == EAI_FAIL) return WSATRY_AGAIN;
  if (status == EAI_SYSTEM) return Win32ErrorFromErrno(errno);
  return WSAHOST_NOT_FOUND;
}

void SetOption(int fd, int level, int name, int value) {
  setsockopt(fd, level, name, &value, sizeof value);
}

// Small frames go out at once; a dead peer ends the connection instead of leaving it
// open forever, whether it was idle or had data unacknowledged.
void TuneSocket(int fd) {
  SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
  SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUnacknowledgedLimitMs));
}

// Returns the connected socket, or -1 with errno.
int ConnectTo(const addrinfo& address, Clock::time_point deadline) {
  const int fd = socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int err = connect(fd, address.ai_addr, address.ai_addrlen) == 0 ? 0 : errno;
  while (err == EINPROGRESS || err == EINTR) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, POLLOUT, 0};
    const int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (ready == 0) {
      err = ETIMEDOUT;
    } else if (ready > 0) {
      socklen_t size = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size);
    } else {
      err = errno;
    }
  }
  if (err == 0) return fd;
  close(fd);
  errno = err;
  return -1;
}

}  // namespace

// Each address the name has is tried in turn, as long as time is left; a timeout on one
// is what is reported if none answers.
int ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds timeout,
               DWORD& error) {
  const auto deadline = Clock::now() + timeout;
  const std::shared_ptr<Lookup> lookup = LookUp(host, port, deadline);
  if (!lookup) {
    error = WSAETIMEDOUT;
    return -1;
  }
  if (lookup->status != 0) {
    error = LookupError(lookup->status);
    return -1;
  }
  int lastError = ECONNREFUSED;
  bool timedOut = false;
  for (const addrinfo* a = lookup->result; a && Clock::now() < deadline; a = a->ai_next) {
    const int fd = ConnectTo(*a, deadline);
    if (fd >= 0) {
      TuneSocket(fd);
      return fd;
    }
    lastError = errno;
    timedOut = timedOut || errno == ETIMEDOUT;
  }
  error = Win32ErrorFromErrno(timedOut || Clock::now() >= deadline ? ETIMEDOUT : lastError);
  return -1;
}

}  // namespace platform
