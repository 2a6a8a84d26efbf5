#include "platform/comm/posix_line.h"

// The kernel's termios2 (for any baud rate) clashes with glibc's <termios.h>, so this file
// speaks to the tty through ioctl alone.
#include <asm/termbits.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/comm/modem_changes.h"
#include "platform/comm/parmrk.h"
#include "platform/comm/posix_node.h"
#include "platform/comm/posix_termios.h"
#include "platform/comm/read_ahead.h"
#include "platform/sync/last_error.h"

namespace platform {
namespace {

constexpr int kModemLines = TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD;
// How old a USB adapter's status may be: a packet per latency period (1 ms in low-latency
// mode), and the frame the bytes travel in.
constexpr auto kStatusAge = std::chrono::microseconds(2500);

// TIOCMIWAIT can only be interrupted by a signal; this one has an empty handler installed
// without SA_RESTART, so the ioctl returns EINTR.
int WakeSignal() { return SIGRTMIN + 5; }

void InstallWakeSignal() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(WakeSignal(), &action, nullptr);
  });
}

class PosixLine : public ByteLine {
 public:
  PosixLine(int fd, const termios2& original, bool pseudoTerminal)
      : fd_(fd), original_(original), pseudoTerminal_(pseudoTerminal) {}

  ~PosixLine() override {
    StopModemWatch();
    RestoreLatency();
    if (rs485Changed_) ioctl(fd_, TIOCSRS485, &originalRs485_);
    ioctl(fd_, TCSETS2, &original_);
    ioctl(fd_, TIOCNXCL);
    close(fd_);
    if (statusFd_ >= 0) close(statusFd_);
  }

  DWORD Start() {
    hasRs485_ = ioctl(fd_, TIOCGRS485, &originalRs485_) == 0;
    DCB dcb{};
    dcb.BaudRate = original_.c_ospeed ? original_.c_ospeed : 9600;
    dcb.ByteSize = 8;
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    if (DWORD err = Configure(dcb)) return err;
    serial_icounter_struct counters{};
    hasCounters_ = ioctl(fd_, TIOCGICOUNT, &counters) == 0;
    if (hasCounters_) counters_ = counters;
    labels_ = MarkLabels(hasCounters_);
    if (ioctl(fd_, TIOCMGET, &seen_.bits) == 0) StartModemWatch();
    TransmitterBusy();  // idle at open: a driver that says "empty" now is believed later
    SetLowLatency();
    return 0;
  }

  int ReadinessFd() const override { return fd_; }
  bool WaitsForPollOut() const override { return true; }
  int StatusFd() const override { return statusFd_; }

  // A stream leaves the kernel in the pieces it keeps, whatever room the queue has just
  // then: what does not fit waits in the read-ahead.
  ssize_t Receive(uint8_t* buf, size_t cap, std::vector<RxError>& errors) override {
    const size_t held = ahead_.Take(buf, cap, 0, errors);
    if (held == cap) return static_cast<ssize_t>(held);
    const ssize_t n = ReadDecoded(ahead_.Space(), ReadAhead::kCapacity, found_);
    if (n <= 0) return held > 0 ? static_cast<ssize_t>(held) : n;
    ahead_.Hold(static_cast<size_t>(n), found_);
    return static_cast<ssize_t>(held + ahead_.Take(buf + held, cap - held, held, errors));
  }

  ssize_t Transmit(const uint8_t* buf, size_t len) override {
    if (len == 0) return 0;
    const ssize_t n = write(fd_, buf, len);
    if (n > 0) {
      handedOver_ = std::chrono::steady_clock::now();
      busySinceHandOver_ = false;
    }
    if (n >= 0) return n;
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
  }

  // The kernel's count reads 0 while a UART's FIFO or a USB adapter still sends; the
  // transmitter-empty bit tells the rest where the driver reports it. A pty hands what is
  // written straight to its other side: nothing waits, and the kernel need not be asked.
  size_t OutputPending() override {
    if (pseudoTerminal_) return 0;
    int queued = 0;
    if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) return static_cast<size_t>(queued);
    return TransmitterBusy() ? 1 : 0;
  }

  // Sleeps the wire time of what is still queued (ten bits a character), then looks again;
  // the kernel has no wait with a limit for this. What the deadline leaves is discarded,
  // so that it does not go out after the settings are put back.
  void WaitUntilSent(std::chrono::steady_clock::time_point deadline) override {
    for (size_t pending; (pending = OutputPending()) > 0;) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) {
        ioctl(fd_, TCFLSH, TCOFLUSH);
        return;
      }
      const auto wire = std::chrono::microseconds(uint64_t{pending} * 10'000'000 / baud_);
      std::this_thread::sleep_for(std::clamp<std::chrono::steady_clock::duration>(
          wire, std::chrono::milliseconds(1), deadline - now));
    }
  }

  // TCXONC sends the configured start or stop character ahead of queued output.
  void SendImmediate(uint8_t c) override {
    const int action = c == xonChar_ ? TCION : TCIOFF;
    if (ioctl(fd_, TCXONC, action) != 0 && write(fd_, &c, 1) < 0) {
      // The line is gone; the next transfer reports it.
    }
  }

  void Purge(bool input, bool output) override {
    if (input) ForgetInput();
    if (input && output)
      ioctl(fd_, TCFLSH, TCIOFLUSH);
    else if (input)
      ioctl(fd_, TCFLSH, TCIFLUSH);
    else if (output)
      ioctl(fd_, TCFLSH, TCOFLUSH);
  }

  DWORD Configure(const DCB& dcb) override {
    if (!TermiosCanCarry(dcb)) return ERROR_INVALID_PARAMETER;
    termios2 current{};
    if (ioctl(fd_, TCGETS2, &current) != 0) return Win32ErrorFromErrno(errno);
    termios2 wanted = TermiosForDcb(dcb, current, !pseudoTerminal_);
    if (ioctl(fd_, TCSETS2, &wanted) != 0) return Win32ErrorFromErrno(errno);
    termios2 applied{};
    if (ioctl(fd_, TCGETS2, &applied) != 0 || !DriverTook(wanted, applied, !pseudoTerminal_)) {
      ioctl(fd_, TCSETS2, &current);
      return ERROR_INVALID_PARAMETER;
    }
    xonChar_ = static_cast<uint8_t>(dcb.XonChar);
    baud_ = std::max<DWORD>(dcb.BaudRate, 1);
    ConfigureRs485(dcb.fRtsControl == RTS_CONTROL_TOGGLE);
    return 0;
  }

  bool TogglesRtsItself() const override { return kernelToggle_; }
  bool SendsAtBaudRate() const override { return !pseudoTerminal_; }
  void SetRts(bool on) override { SetModemBit(TIOCM_RTS, on); }
  void SetDtr(bool on) override { SetModemBit(TIOCM_DTR, on); }

  // A pseudo-terminal has no modem lines: all of them read as off.
  DWORD ModemStatus(DWORD& status) override {
    status = 0;
    if (!watching_) return 0;
    int bits = 0;
    if (ioctl(fd_, TIOCMGET, &bits) != 0) return Win32ErrorFromErrno(errno);
    status = StatusBits(bits);
    return 0;
  }

  // The descriptor's number stays ours, now on /dev/null, so that nothing opened later
  // can be reached through it by a call that still holds it.
  void LetGo() override {
    StopModemWatch();
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) return;
    dup3(null, fd_, O_CLOEXEC);
    close(null);
  }

  LineStatus TakeStatus() override {
    std::lock_guard lock(statusMutex_);
    if (statusFd_ >= 0) {
      uint64_t drained;
      if (read(statusFd_, &drained, sizeof drained) < 0) {
        // Nothing was rung.
      }
    }
    LineStatus status = pending_;
    pending_ = LineStatus{};
    return status;
  }

 private:
  static DWORD StatusBits(int bits) {
    return ((bits & TIOCM_CTS) ? MS_CTS_ON : 0) | ((bits & TIOCM_DSR) ? MS_DSR_ON : 0) |
           ((bits & TIOCM_RNG) ? MS_RING_ON : 0) | ((bits & TIOCM_CD) ? MS_RLSD_ON : 0);
  }

  // Pseudo-terminals have no modem lines: once refused, they are not asked again (RTS
  // toggle would ask twice for every write).
  void SetModemBit(int bit, bool on) {
    if (!hasModemLines_) return;
    if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) != 0 && (errno == ENOTTY || errno == EINVAL)) {
      hasModemLines_ = false;
    }
  }

  // Whether the driver's transmitter-empty bit says busy. A driver is believed once it has
  // said "empty" (some adapters' emulations never do, a pty cannot be asked); one that no
  // longer answers, a device that has gone, has nothing left to send. A USB adapter's bit
  // is as old as its last status packet: "empty" soon after bytes were handed over may be
  // from before they reached the chip, so it counts once the bit has said "busy" since, or
  // once a status packet must have come.
  bool TransmitterBusy() {
    unsigned lsr = 0;
    if (ioctl(fd_, TIOCSERGETLSR, &lsr) != 0) return false;
    if (!(lsr & TIOCSER_TEMT)) {
      busySinceHandOver_ = true;
      return lsrSaysEmpty_;
    }
    lsrSaysEmpty_ = true;
    return !busySinceHandOver_ && std::chrono::steady_clock::now() - handedOver_ < kStatusAge;
  }

  // After a receive purge: what was read ahead goes, a mark a read left unfinished goes
  // with it, and the error counts start again from the driver's.
  void ForgetInput() {
    ahead_.Clear();
    decoder_.Reset();
    labels_.Clear();
    serial_icounter_struct now{};
    if (hasCounters_ && ioctl(fd_, TIOCGICOUNT, &now) == 0) counters_ = now;
  }

  // USB adapters hold received bytes up to their latency timer (16 ms on FTDI chips);
  // drivers that have a low-latency mode take it from this flag. Best effort, put back on
  // close.
  void SetLowLatency() {
    serial_struct info{};
    if (ioctl(fd_, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY)) return;
    info.flags |= ASYNC_LOW_LATENCY;
    lowLatencySet_ = ioctl(fd_, TIOCSSERIAL, &info) == 0;
  }

  void RestoreLatency() {
    serial_struct info{};
    if (!lowLatencySet_ || ioctl(fd_, TIOCGSERIAL, &info) != 0) return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    ioctl(fd_, TIOCSSERIAL, &info);
  }

  // The kernel's RS-485 mode raises RTS around each transmission where the driver has it.
  // The port's own RS-485 settings (delays, bus termination) are kept, and come back at close.
  void ConfigureRs485(bool toggle) {
    if (!hasRs485_ || (!toggle && !kernelToggle_)) return;
    serial_rs485 rs485 = originalRs485_;
    if (toggle) {
      rs485.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
      rs485.flags &= ~SER_RS485_RTS_AFTER_SEND;
    }
    kernelToggle_ = ioctl(fd_, TIOCSRS485, &rs485) == 0 && toggle;
    rs485Changed_ = rs485Changed_ || kernelToggle_;
  }

  ssize_t ReadDecoded(uint8_t* buf, size_t cap, std::vector<RxError>& errors) {
    const ssize_t n = read(fd_, buf, cap);
    if (n > 0 && pseudoTerminal_) return n;
    if (n > 0) {
      marks_.clear();
      const size_t decoded = decoder_.Decode(buf, static_cast<size_t>(n), marks_);
      CheckCounters();
      return static_cast<ssize_t>(ReportMarks(buf, decoded, errors));
    }
    if (n == 0) {
      errno = EIO;  // a hung-up tty reads as end of file
      return -1;
    }
    return (errno == EAGAIN || errno == EINTR) ? 0 : -1;
  }

  // Windows keeps no byte for a break.
  size_t ReportMarks(uint8_t* buf, size_t count, std::vector<RxError>& errors) {
    size_t out = 0, next = 0;
    for (size_t i = 0; i < count; ++i) {
      const bool marked = next < marks_.size() && marks_[next] == i;
      if (marked) {
        ++next;
        const DWORD label = labels_.Label(buf[i]);
        if (label == MarkLabels::kBreak) continue;
        errors.push_back({out, label});
      }
      buf[out++] = buf[i];
    }
    return out;
  }

  // Line errors have no events of their own on Linux; the driver's counters tell them.
  void CheckCounters() {
    if (!hasCounters_) return;
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0) return;
    labels_.Counted(now.brk - counters_.brk, now.parity - counters_.parity,
                    now.frame - counters_.frame);
    std::lock_guard lock(statusMutex_);
    if (now.frame != counters_.frame) pending_.errors |= CE_FRAME;
    if (now.parity != counters_.parity) pending_.errors |= CE_RXPARITY;
    if (now.overrun != counters_.overrun) pending_.errors |= CE_OVERRUN;
    if (now.buf_overrun != counters_.buf_overrun) pending_.errors |= CE_RXOVER;
    if (now.brk != counters_.brk) {
      pending_.errors |= CE_BREAK;
      pending_.events |= EV_BREAK;
    }
    counters_ = now;
  }

  void StartModemWatch() {
    statusFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (statusFd_ < 0) return;
    InstallWakeSignal();
    CountModemChanges(seen_);
    watching_ = true;
    watcher_ = std::thread([this] { WatchModemLines(); });
  }

  void StopModemWatch() {
    if (!watcher_.joinable()) return;
    stopWatching_ = true;
    std::unique_lock lock(watchMutex_);
    while (!watcherDone_) {
      pthread_kill(watcher_.native_handle(), WakeSignal());
      watchDone_.wait_for(lock, std::chrono::milliseconds(10));
    }
    lock.unlock();
    watcher_.join();
  }

  // TIOCMIWAIT only wakes for changes after it was entered: a change while the last one
  // was being reported shows in the driver's counts, and is reported without waiting.
  void WatchModemLines() {
    while (!stopWatching_) {
      if (!ModemCountsMoved()) {
        const int r = ioctl(fd_, TIOCMIWAIT, kModemLines);
        if (stopWatching_) break;
        if (r != 0 && errno == EINTR) continue;
        if (r != 0) {
          if (errno == EIO || errno == ENODEV) ReportGone();
          break;
        }
      }
      if (!ReportModemChange()) break;
    }
    std::lock_guard lock(watchMutex_);
    watcherDone_ = true;
    watchDone_.notify_all();
  }

  void CountModemChanges(ModemLook& look) {
    serial_icounter_struct counts{};
    look.counted = hasCounters_ && ioctl(fd_, TIOCGICOUNT, &counts) == 0;
    look.cts = counts.cts;
    look.dsr = counts.dsr;
    look.rng = counts.rng;
    look.dcd = counts.dcd;
  }

  bool ModemCountsMoved() {
    ModemLook now;
    CountModemChanges(now);
    return now.counted && (now.cts != seen_.cts || now.dsr != seen_.dsr || now.rng != seen_.rng ||
                           now.dcd != seen_.dcd);
  }

  // False when the lines cannot be read: the device has gone, and the watch ends.
  bool ReportModemChange() {
    ModemLook now;
    if (ioctl(fd_, TIOCMGET, &now.bits) != 0) {
      ReportGone();
      return false;
    }
    CountModemChanges(now);
    const DWORD events = ModemEvents(seen_, now);
    seen_ = now;
    if (events == 0) return true;  // a ring that ended, or a change undone before the look
    std::lock_guard lock(statusMutex_);
    pending_.events |= events;
    Ring();
    return true;
  }

  void ReportGone() {
    std::lock_guard lock(statusMutex_);
    pending_.gone = true;
    Ring();
  }

  void Ring() {
    const uint64_t one = 1;
    if (write(statusFd_, &one, sizeof one) < 0) {
      // Already rung.
    }
  }

  const int fd_;
  const termios2 original_;
  uint8_t xonChar_ = 17;
  DWORD baud_ = 9600;
  const bool pseudoTerminal_;
  bool kernelToggle_ = false;
  bool hasRs485_ = false, rs485Changed_ = false;
  serial_rs485 originalRs485_{};
  bool lsrSaysEmpty_ = false;
  std::chrono::steady_clock::time_point handedOver_{};  // when bytes were last written
  bool busySinceHandOver_ = false;
  bool hasModemLines_ = true;
  ParmrkDecoder decoder_;
  std::vector<size_t> marks_;
  ReadAhead ahead_;
  std::vector<RxError> found_;
  bool lowLatencySet_ = false;
  bool hasCounters_ = false;
  serial_icounter_struct counters_{};
  MarkLabels labels_{false};

  int statusFd_ = -1;
  bool watching_ = false;
  std::thread watcher_;
  std::atomic<bool> stopWatching_{false};
  std::mutex watchMutex_;
  std::condition_variable watchDone_;
  bool watcherDone_ = false;
  std::mutex statusMutex_;
  ModemLook seen_;  // the watcher's own
  LineStatus pending_;
};

struct FdGuard {
  int fd;
  ~FdGuard() {
    if (fd >= 0) close(fd);
  }
  int Release() { return std::exchange(fd, -1); }
};

// The node opened is the one that was looked at, not something renamed into its place.
bool IsSameNode(int fd, dev_t rdev) {
  struct stat st {};
  return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev;
}

// Unix98 pty slaves have majors 136 to 143.
bool IsPtySlave(dev_t rdev) { return major(rdev) >= 136 && major(rdev) <= 143; }

// A port slot with nothing behind it fails its first terminal call with EIO.
DWORD TerminalError(int err) {
  if (err == ENOTTY || err == EINVAL) return ERROR_NOT_SUPPORTED;
  return err == EIO ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(err);
}

}  // namespace

std::unique_ptr<ByteLine> OpenPosixLine(const std::string& path, DWORD& error) {
  dev_t rdev{};
  if (DWORD refused = CheckSerialNode(path, rdev)) {
    error = refused;
    return nullptr;
  }
  FdGuard guard{open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)};
  if (guard.fd < 0) {
    error = Win32ErrorFromErrno(errno);
    return nullptr;
  }
  if (!IsSameNode(guard.fd, rdev)) {
    error = ERROR_NOT_SUPPORTED;
    return nullptr;
  }
  // flock holds against every other opener, root included; TIOCEXCL only against others.
  if (flock(guard.fd, LOCK_EX | LOCK_NB) != 0) {
    error = Win32ErrorFromErrno(errno);
    return nullptr;
  }
  termios2 original{};
  if (ioctl(guard.fd, TCGETS2, &original) != 0) {
    error = TerminalError(errno);
    return nullptr;
  }
  if (IsEmptyUartSlot(rdev)) {
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  ioctl(guard.fd, TIOCEXCL);
  auto line = std::make_unique<PosixLine>(guard.Release(), original, IsPtySlave(rdev));
  if (DWORD err = line->Start()) {
    error = err;
    return nullptr;
  }
  return line;
}

}  // namespace platform
