// Two pseudo-terminals joined back to back: what one slave's user writes, the other's
// reads. Windows programs under Wine reach the slaves through links a test names (a
// prefix's dosdevices/comN), so both ends of a line can be opened as COM ports.
//
//   pty-crosslink LINK_A LINK_B   prints "ready" once both links exist; runs until killed
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

volatile sig_atomic_t g_stop = 0;

struct Pty {
  int master = -1;
  int keepOpen = -1;  // a slave descriptor of our own, so a closing user is no hang-up
  std::string slavePath;
};

bool OpenPty(Pty& pty) {
  char name[256] = {};
  termios raw{};
  cfmakeraw(&raw);
  if (openpty(&pty.master, &pty.keepOpen, name, &raw, nullptr) != 0) return false;
  fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
  pty.slavePath = name;
  return true;
}

bool Link(const Pty& pty, const char* link) {
  unlink(link);
  return symlink(pty.slavePath.c_str(), link) == 0;
}

// Moves what one master has read to the other; a full side waits for POLLOUT.
void Pump(int from, int to, std::string& pending) {
  char buf[4096];
  if (pending.empty()) {
    const ssize_t n = read(from, buf, sizeof buf);
    if (n > 0) pending.assign(buf, static_cast<size_t>(n));
  }
  while (!pending.empty()) {
    const ssize_t n = write(to, pending.data(), pending.size());
    if (n <= 0) break;
    pending.erase(0, static_cast<size_t>(n));
  }
}

void Relay(const Pty& a, const Pty& b) {
  std::string toB, toA;
  while (!g_stop) {
    pollfd fds[2] = {{a.master, static_cast<short>(toB.empty() ? POLLIN : 0), 0},
                     {b.master, static_cast<short>(toA.empty() ? POLLIN : 0), 0}};
    if (!toB.empty()) fds[1].events |= POLLOUT;
    if (!toA.empty()) fds[0].events |= POLLOUT;
    if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
    Pump(a.master, b.master, toB);
    Pump(b.master, a.master, toA);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pty-crosslink LINK_A LINK_B\n");
    return 2;
  }
  struct sigaction stop {};
  stop.sa_handler = [](int) { g_stop = 1; };
  sigaction(SIGTERM, &stop, nullptr);
  sigaction(SIGINT, &stop, nullptr);
  Pty a, b;
  if (!OpenPty(a) || !OpenPty(b) || !Link(a, argv[1]) || !Link(b, argv[2])) {
    std::perror("pty-crosslink");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  Relay(a, b);
  unlink(argv[1]);
  unlink(argv[2]);
  return 0;
}
