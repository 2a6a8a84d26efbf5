// The network row of the comparison: the engine and pyserial's RFC 2217 client, each as an
// answering process of its own, reach the same ser2net, which serves one end of a pty pair
// whose master this program drives. Round trips of a request frame and a stream with a
// checksum, in interleaved rounds; figures are the answering side's, and its wake-ups
// while the port is open and idle.
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "peer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 3;
constexpr int kTrips = 1000;
constexpr uint64_t kStreamBytes = 2u << 20;
const std::vector<std::string> kVariants = {"engine", "pyserial"};

// A process with its standard output on a pipe.
class Process {
 public:
  Process(std::vector<std::string> args, bool quiet = false) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~Process() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }
  // A line of its output, empty if none came within the time.
  std::string ReadLine(int timeoutMs = 30000) {
    std::string line;
    for (char c = 0; c != '\n';) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0 || read(out_, &c, 1) != 1) return line;
      if (c != '\n') line += c;
    }
    return line;
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), size);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

// ser2net in front of a fresh pty pair, and the answering variant connected to it.
class Setup {
 public:
  Setup(const std::string& variant, const std::string& mode, uint64_t bytes) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    const int port = FreePort();
    config_ = "/tmp/network-compare-" + std::to_string(getpid()) + ".yaml";
    // ser2net holds what its port receives up to a few character times to send it in one
    // piece; that delay is the server's, the same for both, and is switched off.
    std::ofstream(config_) << "connection: &bench\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                           << port << "\n  connector: serialdev," << ptsname(master_)
                           << ",115200n81,local\n  options:\n    chardelay: false\n";
    server_ = std::make_unique<Process>(
        std::vector<std::string>{"/usr/sbin/ser2net", "-n", "-r", "-u", "-c", config_}, true);
    if (server_->ReadLine() != "Ready") return;
    const std::string url = "rfc2217://127.0.0.1:" + std::to_string(port);
    // pyserial's client waits for an answer to its DTR and RTS, which ser2net does not send
    // for a pty, unless told not to.
    std::vector<std::string> args =
        variant == "engine"
            ? std::vector<std::string>{SERIAL_PEER, "engine-sync", mode, url, std::to_string(bytes)}
            : std::vector<std::string>{"/usr/bin/python3", PYSERIAL_PEER, mode,
                                       url + "?ign_set_control", std::to_string(bytes)};
    peer_ = std::make_unique<Process>(args);
    ready_ = peer_->ReadLine() == "ready";
  }
  ~Setup() {
    peer_.reset();
    server_.reset();
    close(master_);
    std::filesystem::remove(config_);
  }
  bool Ready() const { return ready_; }
  Process& Peer() { return *peer_; }
  void Write(const char* data, size_t n) {
    while (n > 0) {
      const ssize_t w = write(master_, data, n);
      if (w <= 0) return;
      data += w;
      n -= static_cast<size_t>(w);
    }
  }
  bool ReadExactly(size_t n) {
    char buf[256];
    while (n > 0) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
      const ssize_t r = read(master_, buf, std::min(n, sizeof buf));
      if (r <= 0) return false;
      n -= static_cast<size_t>(r);
    }
    return true;
  }

 private:
  int master_ = -1;
  std::string config_;
  std::unique_ptr<Process> server_, peer_;
  bool ready_ = false;
};

struct Usage {
  double cpuUs = 0;
  double switches = 0;
};

// CPU time and context switches of every thread of a process so far.
Usage UsageOf(pid_t pid) {
  Usage u;
  std::error_code error;
  const auto tasks = std::filesystem::path("/proc") / std::to_string(pid) / "task";
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    uint64_t ns = 0;
    std::ifstream(task.path() / "schedstat") >> ns;
    u.cpuUs += static_cast<double>(ns) / 1000.0;
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) {
        u.switches += std::stod(line.substr(line.find(':') + 1));
      }
    }
  }
  return u;
}

struct Figures {
  std::vector<double> trips;
  double tripCpu = 0;
  double streamSeconds = 0;
  double idleWakeups = 0;
  bool intact = true;
  bool started = true;
};

void RoundTrips(const std::string& variant, Figures& f) {
  Setup setup(variant, "answer", 0);
  if (!setup.Ready()) {
    f.started = false;
    return;
  }
  const double before = UsageOf(setup.Peer().Pid()).cpuUs;
  for (int i = 0; i < kTrips; ++i) {
    const auto t0 = Clock::now();
    setup.Write(peers::kRequest.data(), peers::kRequest.size());
    if (!setup.ReadExactly(peers::kReply.size())) f.intact = false;
    f.trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  f.tripCpu += (UsageOf(setup.Peer().Pid()).cpuUs - before) / kTrips / kRounds;
}

void Stream(const std::string& variant, Figures& f) {
  std::vector<char> bytes(kStreamBytes);
  std::mt19937 random(7);
  uint64_t sum = 0;
  for (char& b : bytes) {
    b = static_cast<char>(random() & 0xFF);
    sum = (sum * 31 + static_cast<unsigned char>(b)) & 0xFFFFFFFFu;
  }
  Setup setup(variant, "sink", kStreamBytes);
  if (!setup.Ready()) {
    f.started = false;
    return;
  }
  const auto t0 = Clock::now();
  setup.Write(bytes.data(), bytes.size());
  const std::string line = setup.Peer().ReadLine(120000);
  f.streamSeconds += std::chrono::duration<double>(Clock::now() - t0).count() / kRounds;
  char expected[32];
  std::snprintf(expected, sizeof expected, "sum %08llx", static_cast<unsigned long long>(sum));
  if (line != expected) f.intact = false;
}

void Idle(const std::string& variant, Figures& f) {
  Setup setup(variant, "idle", 0);
  if (!setup.Ready()) return;
  const double before = UsageOf(setup.Peer().Pid()).switches;
  timespec second{1, 0};
  nanosleep(&second, nullptr);
  f.idleWakeups += (UsageOf(setup.Peer().Pid()).switches - before) / kRounds;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);
  std::map<std::string, Figures> figures;
  for (int round = 0; round < kRounds; ++round) {
    for (const auto& v : kVariants) {
      RoundTrips(v, figures[v]);
      Stream(v, figures[v]);
      Idle(v, figures[v]);
      std::fprintf(stderr, "network round %d: %s\n", round + 1, v.c_str());
    }
  }
  std::printf(
      "\nThrough ser2net (RFC 2217, a pty behind it), %d interleaved rounds; the answering "
      "side's figures\n\n",
      kRounds);
  std::printf(
      "| network variant | trip p50 us | trip p99 us | CPU us/trip | stream MB/s | "
      "idle wake-ups/s | intact |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---|\n");
  for (const auto& v : kVariants) {
    const Figures& f = figures[v];
    if (!f.started || f.trips.empty()) {
      std::printf("| %s | n/a: did not start ||||||\n", v.c_str());
      continue;
    }
    std::printf("| %s | %.1f | %.1f | %.1f | %.2f | %.0f | %s |\n", v.c_str(),
                Percentile(f.trips, .5), Percentile(f.trips, .99), f.tripCpu,
                static_cast<double>(kStreamBytes) / 1e6 / f.streamSeconds, f.idleWakeups,
                f.intact ? "yes" : "NO");
  }
  return 0;
}
