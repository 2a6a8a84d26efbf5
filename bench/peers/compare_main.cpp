// Compares the engine with the peer libraries as a user choosing one would: each variant
// answers as a separate process on a pty pair of its own, in interleaved rounds; figures
// are of the answering process, from /proc/PID/task/*. One table, ratios to raw.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "peer.h"

namespace {

using Clock = std::chrono::steady_clock;
const std::vector<std::string> kVariants = {"raw", "libserialport", "qserialport", "engine-sync",
                                            "engine-none"};
constexpr const char* kBaseline = "@base";

// With BENCH_BASELINE naming another build's serial_peer, its engine runs in the same
// rounds as this one's: a change is measured against what it changes, on the same noise.
std::vector<std::string> Variants() {
  std::vector<std::string> variants = kVariants;
  if (std::getenv("BENCH_BASELINE")) {
    for (const char* v : {"engine-sync", "engine-none"})
      variants.push_back(v + std::string(kBaseline));
  }
  return variants;
}
constexpr int kRounds = 3;
constexpr int kTrips = 2000;
constexpr uint64_t kStreamBytes = 8u << 20;
constexpr int kFrameRate = 1000;
constexpr int kFrameSeconds = 2;

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

// libserialport opens only what /sys/class/tty lists, which no pty is: its process gets a
// mount namespace of its own in which a stand-in entry names the pty (this needs root).
std::vector<std::string> InSysfsOfItsOwn(const std::vector<std::string>& args,
                                         const std::string& slave) {
  std::string command =
      "mount -t tmpfs none /sys/class/tty && mkdir /sys/class/tty/pts && "
      "ln -s pty /sys/class/tty/" +
      slave.substr(5) + " && LD_PRELOAD=" PTY_MODEM_SHIM " exec";
  for (const auto& a : args) command += " '" + a + "'";
  return {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", command};
}

// The spawned process inherits the spawner's CPUs; this one gets its own back at once.
class OnOneCore {
 public:
  explicit OnOneCore(bool confine)
      : confined_(confine && sched_getaffinity(0, sizeof own_, &own_) == 0) {
    if (!confined_) return;
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
      if (CPU_ISSET(cpu, &own_)) {
        CPU_SET(cpu, &one);
        break;
      }
    }
    sched_setaffinity(0, sizeof one, &one);
  }
  ~OnOneCore() {
    if (confined_) sched_setaffinity(0, sizeof own_, &own_);
  }

 private:
  cpu_set_t own_{};
  bool confined_;
};

class Peer {
 public:
  Peer(const std::string& variant, const std::string& mode, uint64_t bytes = 0,
       bool oneCore = false) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    termios t{};
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
    const std::string slave = ptsname(master_);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const size_t base = variant.find(kBaseline);
    const std::string peer =
        base == std::string::npos ? SERIAL_PEER : std::getenv("BENCH_BASELINE");
    std::vector<std::string> args = {peer, variant.substr(0, base), mode, slave,
                                     std::to_string(bytes)};
    if (variant == "libserialport") args = InSysfsOfItsOwn(args, slave);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    {
      const OnOneCore core(oneCore);
      posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
    ready_ = ReadLine() == "ready";
  }
  bool Ready() const { return ready_; }
  ~Peer() {
    if (master_ >= 0) close(master_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
  }
  std::string ReadLine() {
    std::string line;
    char c;
    while (read(out_, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }
  void Write(const char* data, size_t n) {
    while (n > 0) {
      const ssize_t w = write(master_, data, n);
      if (w <= 0) return;
      data += w;
      n -= static_cast<size_t>(w);
    }
  }
  void ReadExactly(size_t n) {
    char buf[256];
    while (n > 0) {
      const ssize_t r = read(master_, buf, std::min(n, sizeof buf));
      if (r <= 0) return;
      n -= static_cast<size_t>(r);
    }
  }
  pid_t Pid() const { return pid_; }

 private:
  int master_ = -1, out_ = -1;
  pid_t pid_ = -1;
  bool ready_ = false;
};

struct Figures {
  std::vector<double> trips;
  double tripCpu = 0, tripSwitches = 0;
  double oneCoreTripCpu = 0;
  double streamSeconds = 0;
  bool streamIntact = true;
  double frameCpu = 0;
  bool framesWhole = true;
  double idleWakeups = 0;
};

// Returns the answering process's usage over the trips; no trips when it did not start.
Usage RoundTrips(const std::string& variant, bool oneCore, std::vector<double>& trips) {
  Peer peer(variant, "answer", 0, oneCore);
  if (!peer.Ready()) return {};
  const Usage before = UsageOf(peer.Pid());
  for (int i = 0; i < kTrips; ++i) {
    const auto t0 = Clock::now();
    peer.Write(peers::kRequest.data(), peers::kRequest.size());
    peer.ReadExactly(peers::kReply.size());
    trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  const Usage after = UsageOf(peer.Pid());
  return {(after.cpuUs - before.cpuUs) / kTrips, (after.switches - before.switches) / kTrips};
}

// Confined to one core, a hand-over from thread to thread wakes no other core: the
// difference to the free run is what those wake-ups cost.
void RoundTrips(const std::string& variant, Figures& f) {
  const Usage free = RoundTrips(variant, false, f.trips);
  f.tripCpu += free.cpuUs / kRounds;
  f.tripSwitches += free.switches / kRounds;
  std::vector<double> ignored;
  f.oneCoreTripCpu += RoundTrips(variant, true, ignored).cpuUs / kRounds;
}

void Stream(const std::string& variant, Figures& f) {
  std::vector<char> bytes(kStreamBytes);
  std::mt19937 random(7);
  uint64_t sum = 0;
  for (char& b : bytes) {
    b = static_cast<char>(random() & 0xFF);
    sum = (sum * 31 + static_cast<unsigned char>(b)) & 0xFFFFFFFFu;
  }
  Peer peer(variant, "sink", kStreamBytes);
  if (!peer.Ready()) return;
  const auto t0 = Clock::now();
  peer.Write(bytes.data(), bytes.size());
  const std::string line = peer.ReadLine();
  f.streamSeconds += std::chrono::duration<double>(Clock::now() - t0).count() / kRounds;
  char expected[32];
  std::snprintf(expected, sizeof expected, "sum %08llx", static_cast<unsigned long long>(sum));
  if (line != expected) f.streamIntact = false;
}

void Frames(const std::string& variant, Figures& f) {
  const int frames = kFrameRate * kFrameSeconds;
  Peer peer(variant, "frames", static_cast<uint64_t>(frames) * peers::kReply.size());
  if (!peer.Ready()) return;
  const Usage before = UsageOf(peer.Pid());
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (int i = 0; i < frames; ++i) {
    peer.Write(peers::kReply.data(), peers::kReply.size());
    next.tv_nsec += 1000000000 / kFrameRate;
    if (next.tv_nsec >= 1000000000) {
      next.tv_nsec -= 1000000000;
      ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
  }
  const Usage after = UsageOf(peer.Pid());
  f.frameCpu += (after.cpuUs - before.cpuUs) / frames / kRounds;
  if (peer.ReadLine() != "frames " + std::to_string(frames)) f.framesWhole = false;
}

void Idle(const std::string& variant, Figures& f) {
  Peer peer(variant, "idle");
  if (!peer.Ready()) return;
  const Usage before = UsageOf(peer.Pid());
  timespec second{1, 0};
  nanosleep(&second, nullptr);
  f.idleWakeups += (UsageOf(peer.Pid()).switches - before.switches) / kRounds;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main() {
  signal(SIGPIPE, SIG_IGN);
  std::map<std::string, Figures> figures;
  const std::vector<std::string> variants = Variants();
  for (int round = 0; round < kRounds; ++round) {
    for (const auto& v : variants) {
      if (const char* only = std::getenv("BENCH_ONLY"); only && v != only) continue;
      const auto t0 = Clock::now();
      RoundTrips(v, figures[v]);
      const auto t1 = Clock::now();
      Stream(v, figures[v]);
      const auto t2 = Clock::now();
      Frames(v, figures[v]);
      Idle(v, figures[v]);
      std::fprintf(stderr, "round %d: %s (trips %.1f s, stream %.1f s, total %.1f s)\n", round + 1,
                   v.c_str(), std::chrono::duration<double>(t1 - t0).count(),
                   std::chrono::duration<double>(t2 - t1).count(),
                   std::chrono::duration<double>(Clock::now() - t0).count());
    }
  }
  const Figures& raw = figures["raw"];
  std::printf("%d interleaved rounds; answering side's figures; ratios to raw\n\n", kRounds);
  std::printf(
      "| variant | trip p50 us | trip p99 us | CPU us/trip | on one core | switches/trip | "
      "throughput vs raw | CPU/frame at 1000/s vs raw | idle wake-ups/s | intact |\n");
  std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
  for (const auto& v : variants) {
    const Figures& f = figures[v];
    if (f.trips.empty()) {
      std::printf("| %s | n/a: did not start (the libserialport variant needs root) ||||||||| \n",
                  v.c_str());
      continue;
    }
    std::printf(
        "| %s | %.1f | %.1f | %.1f (%.2fx) | %.1f (%.2fx) | %.2f | %.2f | %.2f | %.0f | %s |\n",
        v.c_str(), Percentile(f.trips, .5), Percentile(f.trips, .99), f.tripCpu,
        f.tripCpu / raw.tripCpu, f.oneCoreTripCpu, f.oneCoreTripCpu / raw.oneCoreTripCpu,
        f.tripSwitches, raw.streamSeconds / f.streamSeconds, f.frameCpu / raw.frameCpu,
        f.idleWakeups, f.streamIntact && f.framesWhole ? "yes" : "NO");
  }
  return 0;
}
