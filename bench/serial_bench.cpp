// Measures the engine against a raw poll + read loop on the same pseudo-terminals, in one
// run with interleaved rounds (absolute times drift on shared machines; ratios do not).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cport/comport.h"
#include "platform/windows.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 5;
constexpr int kTripsPerRound = 2000;
constexpr size_t kStreamBytes = 16u << 20;
const std::string kFrame =
    "\x02"
    "01WHO\r\n";

struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
  }
  ~Pty() { close(master); }
};

// The raw loop's side of a pty, in raw mode as the engine's is.
int OpenRaw(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

// Far end writes a frame; the reader has the 8 bytes in hand.
double RawTrip(int master, int fd) {
  char buf[64];
  const auto t0 = Clock::now();
  if (write(master, kFrame.data(), kFrame.size()) < 0) return 0;
  size_t got = 0;
  while (got < kFrame.size()) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, -1);
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) got += static_cast<size_t>(n);
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

double EngineTrip(int master, HANDLE port, OVERLAPPED& ov) {
  char buf[64];
  DWORD n = 0;
  ReadFile(port, buf, static_cast<DWORD>(kFrame.size()), &n, &ov);
  const auto t0 = Clock::now();
  if (write(master, kFrame.data(), kFrame.size()) < 0) return 0;
  WaitForSingleObject(ov.hEvent, INFINITE);
  GetOverlappedResult(port, &ov, &n, FALSE);
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

long ContextSwitches();

double CpuMicros() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

void Latency() {
  Pty rawPty, enginePty;
  const int fd = OpenRaw(rawPty.slave);
  HANDLE port = CreateFileA(enginePty.slave.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  COMMTIMEOUTS wholeFrame{0, 0, 0, 0, 0};
  SetCommTimeouts(port, &wholeFrame);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<double> raw, engine;
  double rawCpu = 0, engineCpu = 0;
  long rawSwitches = 0, engineSwitches = 0;
  for (int round = 0; round < kRounds; ++round) {
    double t = CpuMicros();
    long c = ContextSwitches();
    for (int i = 0; i < kTripsPerRound; ++i) raw.push_back(RawTrip(rawPty.master, fd));
    rawCpu += CpuMicros() - t;
    rawSwitches += ContextSwitches() - c;
    t = CpuMicros();
    c = ContextSwitches();
    for (int i = 0; i < kTripsPerRound; ++i) {
      engine.push_back(EngineTrip(enginePty.master, port, ov));
    }
    engineCpu += CpuMicros() - t;
    engineSwitches += ContextSwitches() - c;
  }
  const double trips = kRounds * kTripsPerRound;
  std::printf("latency, far-end write to completed read (us):\n");
  std::printf("  raw poll+read   median %7.1f   p99 %7.1f\n", Percentile(raw, .5),
              Percentile(raw, .99));
  std::printf("  engine          median %7.1f   p99 %7.1f\n", Percentile(engine, .5),
              Percentile(engine, .99));
  std::printf("  ratio           median %7.2f   p99 %7.2f   (target <= 1.5)\n",
              Percentile(engine, .5) / Percentile(raw, .5),
              Percentile(engine, .99) / Percentile(raw, .99));
  std::printf("  CPU per trip    raw %.1f us, engine %.1f us (the process, both ends)\n",
              rawCpu / trips, engineCpu / trips);
  std::printf("  switches/trip   raw %.2f, engine %.2f\n", static_cast<double>(rawSwitches) / trips,
              static_cast<double>(engineSwitches) / trips);
  CloseHandle(ov.hEvent);
  CloseHandle(port);
  close(fd);
}

void Feed(int master) {
  std::vector<char> block(4096, 'x');
  size_t sent = 0;
  while (sent < kStreamBytes) {
    const ssize_t n = write(master, block.data(), std::min(block.size(), kStreamBytes - sent));
    if (n > 0) sent += static_cast<size_t>(n);
  }
}

double RawThroughput() {
  Pty pty;
  const int fd = OpenRaw(pty.slave);
  std::thread feeder(Feed, pty.master);
  const auto t0 = Clock::now();
  std::vector<char> buf(65536);
  size_t got = 0;
  while (got < kStreamBytes) {
    pollfd p{fd, POLLIN, 0};
    poll(&p, 1, -1);
    const ssize_t n = read(fd, buf.data(), buf.size());
    if (n > 0) got += static_cast<size_t>(n);
  }
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  feeder.join();
  close(fd);
  return static_cast<double>(kStreamBytes) / s / 1e6;
}

double EngineThroughput() {
  Pty pty;
  HANDLE port = CreateFileA(pty.slave.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  SetupComm(port, 65536, 4096);
  COMMTIMEOUTS firstByte{MAXDWORD, MAXDWORD, 10000, 0, 0};
  SetCommTimeouts(port, &firstByte);
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread feeder(Feed, pty.master);
  const auto t0 = Clock::now();
  std::vector<char> buf(65536);
  size_t got = 0;
  while (got < kStreamBytes) {
    DWORD n = 0;
    if (!ReadFile(port, buf.data(), static_cast<DWORD>(buf.size()), &n, &ov)) {
      GetOverlappedResult(port, &ov, &n, TRUE);
    }
    got += n;
  }
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  feeder.join();
  CloseHandle(ov.hEvent);
  CloseHandle(port);
  return static_cast<double>(kStreamBytes) / s / 1e6;
}

void Throughput() {
  std::vector<double> raw, engine;
  for (int round = 0; round < kRounds; ++round) {
    raw.push_back(RawThroughput());
    engine.push_back(EngineThroughput());
  }
  std::printf("throughput of a continuous stream (MB/s, median of %d interleaved rounds):\n",
              kRounds);
  std::printf("  raw %.0f   engine %.0f   ratio %.2f   (target >= 0.8)\n", Percentile(raw, .5),
              Percentile(engine, .5), Percentile(engine, .5) / Percentile(raw, .5));
}

long ContextSwitches() {
  long total = 0;
  DIR* tasks = opendir("/proc/self/task");
  while (const dirent* e = readdir(tasks)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
          line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
        total += std::stol(line.substr(line.find(':') + 1));
      }
    }
  }
  closedir(tasks);
  return total;
}

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

void IdleAndMemory() {
  const long before = ResidentKiB();
  std::vector<std::unique_ptr<Pty>> ptys;
  std::vector<std::unique_ptr<cport::TComPort>> ports;
  for (int i = 0; i < 64; ++i) {
    ptys.push_back(std::make_unique<Pty>());
    ports.push_back(std::make_unique<cport::TComPort>());
    ports.back()->SetPort(ptys.back()->slave);
    ports.back()->OpenPort();
  }
  const long after = ResidentKiB();
  // The first second still holds the new threads starting up; the second one is idle.
  long switches = ContextSwitches();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long startup = ContextSwitches() - switches;
  switches = ContextSwitches();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const long idle = ContextSwitches() - switches;
  std::printf("64 open ports with their event threads:\n");
  std::printf("  resident memory %ld KiB in all (%ld KiB before opening; target < 32768)\n", after,
              before);
  std::printf(
      "  context switches of all threads: %ld in the first second (start-up), %ld in the\n"
      "  next, idle one (target 0; the bench's own sleep accounts for 1)\n",
      startup, idle);
}

}  // namespace

int main() {
  Latency();
  Throughput();
  IdleAndMemory();
  return 0;
}
