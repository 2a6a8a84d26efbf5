#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "peer.h"

namespace peers {

int RunRaw(const Job& job) {
  const int fd = open(job.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return 1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  Work work(job);
  Work::Ready();
  char buf[4096];
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, -1);
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0 && !(n < 0 && errno == EAGAIN)) break;
    if (n <= 0) continue;
    const std::string reply = work.Take(buf, static_cast<size_t>(n));
    if (!reply.empty() && write(fd, reply.data(), reply.size()) < 0) break;
    if (work.SinkDone()) break;
  }
  work.Report();
  close(fd);
  return 0;
}

}  // namespace peers
