// A simulated instrument on a pseudo-terminal, written on POSIX alone so that it shares
// nothing with the engine it is tested against.
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>

#include "protocol.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string link;
  bool echo = false;
  int split = 1;
  int splitGapMs = 5;
  int noise = 0;
  int delayMs = 0;
  uint32_t streamCount = 0;
  int streamRate = 1000;
  int presentValue = 250;
  int setValue = 300;
};

const char kHelp[] =
    "Usage: instrument-sim --link PATH [options]\n"
    "\n"
    "Simulates a temperature controller that speaks the console's line protocol on a\n"
    "pseudo-terminal, and links the terminal's device at PATH (the link is removed on exit,\n"
    "also on SIGINT and SIGTERM). Point the console's port at PATH.\n"
    "\n"
    "Frames are STX, text, CR, LF in both directions. Commands and replies:\n"
    "  01WHO           -> 01WHO,SIM-TC100,V1.0    identification\n"
    "  01DRS,01,0001   -> 01DRS,OK,<pv>           present value, tenths of a degree, 4 digits\n"
    "  01DRS,01,0002   -> 01DRS,OK,<sv>           set value, likewise\n"
    "  01STREAM        -> 01STREAM,OK, then the stream (with --stream)\n"
    "  anything else   -> 01NG,01                 unknown command\n"
    "Bytes outside frames are ignored.\n"
    "\n"
    "Options:\n"
    "  --link PATH        where to link the pseudo-terminal (required)\n"
    "  --echo             send every received frame back first, as a half-duplex RS-485\n"
    "                     adapter does\n"
    "  --split N          send each reply in N deliveries\n"
    "  --split-gap MS     pause between those deliveries (default 5)\n"
    "  --noise N          send N noise bytes before each reply's STX\n"
    "  --delay MS         wait MS milliseconds before replying\n"
    "  --pv TENTHS        present value (default 250)\n"
    "  --sv TENTHS        set value (default 300)\n"
    "  --stream N         on 01STREAM send N frames 01SEQ,<6-digit number>,<4 hex digits>,\n"
    "                     numbered from 1; the hex digits are a checksum of the part before\n"
    "  --rate R           stream frames per second (default 1000; 0: as fast as the line\n"
    "                     takes them)\n"
    "  --help             this text\n";

bool ParseInt(const char* text, int low, int& value) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (!*text || *end || n < low || n > 100000000) return false;
  value = static_cast<int>(n);
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  static const option kLong[] = {
      {"link", required_argument, nullptr, 'l'},   {"echo", no_argument, nullptr, 'e'},
      {"split", required_argument, nullptr, 's'},  {"split-gap", required_argument, nullptr, 'g'},
      {"noise", required_argument, nullptr, 'n'},  {"delay", required_argument, nullptr, 'd'},
      {"pv", required_argument, nullptr, 'p'},     {"sv", required_argument, nullptr, 'v'},
      {"stream", required_argument, nullptr, 'S'}, {"rate", required_argument, nullptr, 'r'},
      {"help", no_argument, nullptr, 'h'},         {nullptr, 0, nullptr, 0}};
  int c = 0;
  int count = 0;
  while ((c = getopt_long(argc, argv, "", kLong, nullptr)) != -1) {
    bool ok = true;
    switch (c) {
      case 'l':
        o.link = optarg;
        break;
      case 'e':
        o.echo = true;
        break;
      case 's':
        ok = ParseInt(optarg, 1, o.split);
        break;
      case 'g':
        ok = ParseInt(optarg, 0, o.splitGapMs);
        break;
      case 'n':
        ok = ParseInt(optarg, 0, o.noise);
        break;
      case 'd':
        ok = ParseInt(optarg, 0, o.delayMs);
        break;
      case 'p':
        ok = ParseInt(optarg, 0, o.presentValue);
        break;
      case 'v':
        ok = ParseInt(optarg, 0, o.setValue);
        break;
      case 'S':
        ok = ParseInt(optarg, 0, count);
        o.streamCount = static_cast<uint32_t>(count);
        break;
      case 'r':
        ok = ParseInt(optarg, 0, o.streamRate);
        break;
      case 'h':
        std::fputs(kHelp, stdout);
        std::exit(0);
      default:
        return false;
    }
    if (!ok) {
      std::fprintf(stderr, "instrument-sim: bad value for an option: %s\n", optarg);
      return false;
    }
  }
  if (o.link.empty()) std::fprintf(stderr, "instrument-sim: --link PATH is required\n");
  return !o.link.empty() && optind == argc;
}

// Bytes waiting to go out, each piece not before its time.
struct Piece {
  Clock::time_point due;
  std::string bytes;
};

class Simulator {
 public:
  explicit Simulator(const Options& options) : o_(options) {
    instrument_.presentValue = o_.presentValue;
    instrument_.setValue = o_.setValue;
  }

  int Run(int master, int signals) {
    char buf[4096];
    for (;;) {
      const Clock::time_point now = Clock::now();
      QueueStream(now);
      pollfd fds[2] = {{master, POLLIN, 0}, {signals, POLLIN, 0}};
      if (DuePiece(now)) fds[0].events |= POLLOUT;
      if (poll(fds, 2, TimeoutMs(now)) < 0 && errno != EINTR) return 1;
      if (fds[1].revents) return 0;
      if (fds[0].revents & POLLIN) {
        const ssize_t n = read(master, buf, sizeof buf);
        if (n > 0) Received(buf, static_cast<size_t>(n));
      }
      if (fds[0].revents & POLLOUT) Send(master);
    }
  }

 private:
  void Received(const char* bytes, size_t count) {
    for (const std::string& command : reader_.Feed(bytes, count)) {
      const Clock::time_point start = Clock::now();
      if (o_.echo) out_.push_back({start, sim::Frame(command)});
      const std::string reply = sim::Reply(instrument_, command);
      if (command == "01STREAM" && o_.streamCount > 0) {
        Schedule(start, "01STREAM,OK");
        streamNext_ = 1;
        streamDue_ = start + std::chrono::milliseconds(o_.delayMs);
      } else {
        Schedule(start, reply);
      }
    }
  }

  void Schedule(Clock::time_point start, const std::string& text) {
    std::string bytes = Noise() + sim::Frame(text);
    Clock::time_point due = start + std::chrono::milliseconds(o_.delayMs);
    const size_t pieces = std::min<size_t>(static_cast<size_t>(o_.split), bytes.size());
    const size_t size = (bytes.size() + pieces - 1) / pieces;
    for (size_t at = 0; at < bytes.size(); at += size) {
      out_.push_back({due, bytes.substr(at, size)});
      due += std::chrono::milliseconds(o_.splitGapMs);
    }
  }

  std::string Noise() {
    std::string noise;
    std::uniform_int_distribution<int> byte(0, 255);
    while (noise.size() < static_cast<size_t>(o_.noise)) {
      const char c = static_cast<char>(byte(random_));
      if (c != sim::STX) noise += c;
    }
    return noise;
  }

  // One stream frame at a time, paced by the rate; unpaced ones follow the line.
  void QueueStream(Clock::time_point now) {
    if (streamNext_ == 0 || streamNext_ > o_.streamCount || now < streamDue_) return;
    if (o_.streamRate == 0 && !out_.empty()) return;
    out_.push_back({now, sim::Frame(sim::StreamText(streamNext_++))});
    if (o_.streamRate > 0) streamDue_ += std::chrono::microseconds(1000000 / o_.streamRate);
  }

  bool DuePiece(Clock::time_point now) const { return !out_.empty() && out_.front().due <= now; }

  int TimeoutMs(Clock::time_point now) const {
    Clock::time_point next = Clock::time_point::max();
    if (!out_.empty()) next = out_.front().due;
    const bool streaming = streamNext_ > 0 && streamNext_ <= o_.streamCount;
    if (streaming && (o_.streamRate > 0 || out_.empty())) next = std::min(next, streamDue_);
    if (next == Clock::time_point::max()) return -1;
    if (next <= now) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
  }

  void Send(int master) {
    Piece& piece = out_.front();
    const ssize_t n = write(master, piece.bytes.data(), piece.bytes.size());
    if (n <= 0) return;
    piece.bytes.erase(0, static_cast<size_t>(n));
    if (piece.bytes.empty()) out_.pop_front();
  }

  const Options& o_;
  sim::Instrument instrument_;
  sim::FrameReader reader_;
  std::deque<Piece> out_;
  std::mt19937 random_{12345};
  uint32_t streamNext_ = 0;
  Clock::time_point streamDue_{};
};

// Raw, so that nothing the line discipline does changes the bytes.
void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

bool LinkDevice(const char* device, const std::string& link) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "instrument-sim: %s exists and is not a link\n", link.c_str());
      return false;
    }
    unlink(link.c_str());
  }
  if (symlink(device, link.c_str()) != 0) {
    std::fprintf(stderr, "instrument-sim: cannot link %s: %s\n", link.c_str(), strerror(errno));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fputs("Try 'instrument-sim --help'.\n", stderr);
    return 2;
  }
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int signals = signalfd(-1, &set, SFD_CLOEXEC);

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || signals < 0) {
    std::fprintf(stderr, "instrument-sim: no pseudo-terminal: %s\n", strerror(errno));
    return 1;
  }
  const char* device = ptsname(master);
  // Holding the terminal open keeps the master readable while no console has it open.
  const int keeper = open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
  MakeRaw(keeper);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  if (!LinkDevice(device, options.link)) return 1;
  std::printf("instrument-sim: %s linked at %s\n", device, options.link.c_str());
  std::fflush(stdout);

  Simulator simulator(options);
  const int status = simulator.Run(master, signals);
  unlink(options.link.c_str());
  close(keeper);
  close(master);
  return status;
}
