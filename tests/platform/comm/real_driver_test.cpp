// What only the kernel's own serial drivers show, run in the driver rig on each real port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>
#include <tuple>

#include "../../process_entries.h"
#include "far_end.h"
#include "real_ports.h"

namespace platform::testing {
namespace {

// Only the kernel's termbits header knows these; the values are fixed by the ABI.
constexpr unsigned kCsize = 0000060, kCstopb = 0000100, kParenb = 0000400, kParodd = 0001000;
constexpr unsigned kCmspar = 010000000000, kCrtscts = 020000000000;
constexpr unsigned kFraming = kCsize | kCstopb | kParenb | kParodd | kCmspar | kCrtscts;
constexpr int kTiocmLoop = 0x8000;

// What the driver should hold for a DCB's framing.
unsigned FramingFlags(const DCB& dcb) {
  const unsigned size = (dcb.ByteSize - 5u) << 4;  // CS5 is 0, each bit more adds 020
  const unsigned parity[] = {0, kParenb | kParodd, kParenb, kParenb | kParodd | kCmspar,
                             kParenb | kCmspar};
  return size | parity[dcb.Parity] | (dcb.StopBits != ONESTOPBIT ? kCstopb : 0) |
         (dcb.fOutxCtsFlow ? kCrtscts : 0);
}

using testing_support::Entries;

std::string Pattern(size_t size) {
  std::string bytes;
  for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>(i * 7 + i / 256));
  return bytes;
}

class RealDriver : public ::testing::TestWithParam<Line> {
 protected:
  void SetUp() override { Open(); }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    if (far_ >= 0) close(far_);
  }

  void Open() {
    port_ = OpenPort(Device());
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 2000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port_, &t));
  }
  void Configure(DWORD baud) {
    DCB dcb = PlainDcb(baud);
    ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
    if (far_ >= 0) close(far_);
    far_ = OpenRawPort("/dev/" + GetParam().farDevice, baud);
    ASSERT_GE(far_, 0);
  }
  const std::string& Device() const { return GetParam().device; }

  std::string Read(size_t count) {
    std::string got;
    while (got.size() < count) {
      Overlapped op;
      std::string part(count - got.size(), '\0');
      DWORD n = 0;
      if (!ReadFile(port_, part.data(), static_cast<DWORD>(part.size()), &n, &op.ov)) {
        EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
        EXPECT_TRUE(op.WaitDone());
        GetOverlappedResult(port_, &op.ov, &n, FALSE);
      }
      if (n == 0) break;
      got.append(part.data(), n);
    }
    return got;
  }
  void Write(const std::string& bytes) {
    Overlapped op;
    DWORD n = 0;
    if (!WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &op.ov)) {
      ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
      ASSERT_TRUE(op.WaitDone());
      ASSERT_TRUE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
    }
    ASSERT_EQ(n, bytes.size());
  }
  std::string FarReceive(size_t count) {
    std::string got;
    char buf[4096];
    for (int idle = 0; got.size() < count && idle < 50;) {
      const ssize_t n = read(far_, buf, std::min(sizeof buf, count - got.size()));
      if (n > 0) {
        got.append(buf, static_cast<size_t>(n));
        idle = 0;
      } else {
        pollfd p{far_, POLLIN, 0};
        if (poll(&p, 1, 100) == 0) ++idle;
      }
    }
    return got;
  }

  void WaitForEvents() {
    Overlapped wait;
    DWORD events = 0;
    if (!WaitCommEvent(port_, &events, &wait.ov)) {
      ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
      ASSERT_TRUE(wait.WaitDone());
    }
  }

  HANDLE port_ = INVALID_HANDLE_VALUE;
  int far_ = -1;
};

TEST_P(RealDriver, BytesGoBothWaysWhole) {
  for (DWORD baud : {9600u, 115200u}) {
    SCOPED_TRACE(baud);
    Configure(baud);
    const std::string out = Pattern(2048), in = Pattern(3000).substr(952);
    Write(out);
    EXPECT_EQ(FarReceive(out.size()), out);
    ASSERT_EQ(write(far_, in.data(), in.size()), static_cast<ssize_t>(in.size()));
    EXPECT_EQ(Read(in.size()), in);
  }
}

// A rate or framing the driver cannot do is refused, and the line and the port keep what
// they had, instead of running silently at another speed (the 16550 sets 9600 for
// anything above its base) or with other data bits (an FT232 keeps 8 for 6).
TEST_P(RealDriver, SettingsReadBackFromTheDriverOrAreRefused) {
  const bool uart = !IsUsbAdapter(Device());
  const DWORD rates[] = {110,   300,   600,   1200,   2400,   4800,   9600,  14400, 19200,
                         38400, 56000, 57600, 115200, 128000, 256000, 31250, 250000};
  DWORD current = 9600;
  Configure(current);
  for (DWORD rate : rates) {
    SCOPED_TRACE(rate);
    DCB dcb = PlainDcb(rate);
    const bool taken = SetCommState(port_, &dcb) != FALSE;
    if (uart) {
      EXPECT_EQ(taken, rate <= 115200) << "the 16550's base is 115200";
    }
    if (taken) {
      current = rate;
    } else {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    const double read = ReadDriverSettings(Device()).speed;
    EXPECT_LE(std::fabs(read - current), 0.03 * current) << read;
  }
  DCB held = PlainDcb(9600);
  ASSERT_TRUE(SetCommState(port_, &held));
  for (BYTE size : {5, 6, 7, 8}) {
    for (BYTE parity : {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY}) {
      for (BYTE stop : {BYTE{ONESTOPBIT}, BYTE(size == 5 ? ONE5STOPBITS : TWOSTOPBITS)}) {
        for (bool cts : {false, true}) {
          SCOPED_TRACE(::testing::Message() << int(size) << " bits, parity " << int(parity)
                                            << ", stop " << int(stop) << ", cts " << cts);
          DCB dcb = PlainDcb(9600);
          dcb.ByteSize = size;
          dcb.Parity = parity;
          dcb.StopBits = stop;
          dcb.fOutxCtsFlow = cts;
          const unsigned before = ReadDriverSettings(Device()).cflag & kFraming;
          const bool taken = SetCommState(port_, &dcb) != FALSE;
          if (uart) {
            EXPECT_TRUE(taken) << "a 16550 does every framing";
          }
          if (taken) {
            held = dcb;
          } else {
            EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
          }
          EXPECT_EQ(ReadDriverSettings(Device()).cflag & kFraming,
                    taken ? FramingFlags(dcb) : before);
          DCB now{};
          ASSERT_TRUE(GetCommState(port_, &now));
          EXPECT_EQ(std::tie(now.ByteSize, now.Parity, now.StopBits),
                    std::tie(held.ByteSize, held.Parity, held.StopBits));
        }
      }
    }
  }
}

// Bytes reported written are not cut off by the close.
TEST_P(RealDriver, CloseKeepsWhatWasWritten) {
  Configure(115200);
  const std::string out = Pattern(4000);
  Write(out);
  CloseHandle(port_);
  port_ = INVALID_HANDLE_VALUE;
  EXPECT_EQ(FarReceive(out.size()), out);
}

// The adapter's driver holds received bytes for its latency timer unless asked not to.
TEST_P(RealDriver, LowLatencyWhileOpenAndPutBackOnClose) {
  auto lowLatency = [&] {
    serial_struct info{};
    const int fd = open(("/dev/" + Device()).c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    const bool on = ioctl(fd, TIOCGSERIAL, &info) == 0 && (info.flags & ASYNC_LOW_LATENCY);
    close(fd);
    return on;
  };
  EXPECT_TRUE(lowLatency());
  CloseHandle(port_);
  port_ = INVALID_HANDLE_VALUE;
  EXPECT_FALSE(lowLatency());
}

// A 16550 in loopback feeds its modem outputs back to its inputs: RTS shows as CTS and
// DTR as DSR. (QEMU's model computes the levels when read and raises no interrupt for
// them; the emulated adapter's cases cover the events.)
TEST_P(RealDriver, InLoopbackTheUartsInputsFollowItsOutputs) {
  if (IsUsbAdapter(Device())) GTEST_SKIP() << "only a UART has a loopback mode";
  struct Loopback {
    int fd;
    int bit = kTiocmLoop;
    ~Loopback() {
      ioctl(fd, TIOCMBIC, &bit);
      close(fd);
    }
  } loop{open(("/dev/" + Device()).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)};
  ASSERT_GE(loop.fd, 0);
  ASSERT_EQ(ioctl(loop.fd, TIOCMBIS, &loop.bit), 0);
  for (const bool rts : {false, true}) {
    for (const bool dtr : {false, true}) {
      DCB dcb = PlainDcb(115200);
      dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
      dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
      ASSERT_TRUE(SetCommState(port_, &dcb));
      DWORD status = 0;
      ASSERT_TRUE(GetCommModemStatus(port_, &status));
      EXPECT_EQ(status & (MS_CTS_ON | MS_DSR_ON),
                (rts ? DWORD{MS_CTS_ON} : 0) | (dtr ? DWORD{MS_DSR_ON} : 0))
          << rts << dtr;
    }
  }
}

// RTS toggle on the 8250, which has no RS-485 mode here: RTS goes down once the wire time
// of the frame is over and within a few milliseconds of it. QEMU's 16550 empties at once,
// so the device's own clock is the wire, counted here from the write; loopback shows RTS
// as CTS to a second descriptor, sampled every 50 us or so. The lateness is printed.
TEST_P(RealDriver, RtsToggleDropsJustAfterTheWireTime) {
  if (IsUsbAdapter(Device())) GTEST_SKIP() << "the emulated adapter's case records the chip";
  struct Loopback {
    int fd;
    int bit = kTiocmLoop;
    ~Loopback() {
      ioctl(fd, TIOCMBIC, &bit);
      close(fd);
    }
  } loop{open(("/dev/" + Device()).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK)};
  ASSERT_GE(loop.fd, 0);
  ASSERT_EQ(ioctl(loop.fd, TIOCMBIS, &loop.bit), 0);
  struct Case {
    DWORD baud;
    size_t length;
  };
  for (const Case& c : {Case{9600, 20}, Case{9600, 300}, Case{115200, 200}, Case{115200, 2000}}) {
    SCOPED_TRACE(std::to_string(c.baud) + " baud, " + std::to_string(c.length) + " bytes");
    DCB dcb = PlainDcb(c.baud);
    dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    ASSERT_TRUE(SetCommState(port_, &dcb));
    ASSERT_TRUE(SetCommMask(port_, EV_TXEMPTY));
    const double wire = 10.0 * c.length / c.baud * 1e6;  // microseconds
    double best = 1e12, worst = 0;
    // Three rounds for the figures, more while none was close: a loaded machine delays
    // some rounds, a look that comes a character time late delays them all.
    for (int round = 0; round < 3 || (round < 12 && best >= 5000); ++round) {
      using Clock = std::chrono::steady_clock;
      std::atomic<bool> sampling{false}, fell{false};
      Clock::time_point fall{};
      std::thread sampler([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        for (bool up = false; !fell && Clock::now() < deadline; sampling = true) {
          int bits = 0;
          ioctl(loop.fd, TIOCMGET, &bits);
          const bool cts = bits & TIOCM_CTS;
          if (!cts && up) fall = Clock::now(), fell = true;
          up = up || cts;
          // The sampling cadence: the guest has one CPU, which the device's threads need.
          std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
      });
      while (!sampling) std::this_thread::yield();
      const auto written = Clock::now();  // RTS rises inside the write, after this
      Write(Pattern(c.length));
      WaitForEvents();
      sampler.join();
      ASSERT_TRUE(fell) << "no RTS pulse seen";
      const double late = std::chrono::duration<double, std::micro>(fall - written).count() - wire;
      EXPECT_GE(late, 0.0) << "RTS dropped before the wire time was over";
      best = std::min(best, late);
      worst = std::max(worst, late);
    }
    EXPECT_LT(best, 5000.0) << "RTS dropped late in every round";
    std::printf("RTS drop after the wire time on the 8250, %u baud, %zu bytes: %.2f to %.2f ms\n",
                static_cast<unsigned>(c.baud), c.length, best / 1000, worst / 1000);
  }
}

// Pulled while a read and an event wait are pending, a hundred times: both complete with the
// gone-device error, the descriptor is let go at once so the adapter comes back under its
// old name while the handle is still open, and reopening it works; nothing is left behind.
TEST_P(RealDriver, AnAdapterPulledAndPluggedBackAHundredTimes) {
  if (!IsUsbAdapter(Device())) GTEST_SKIP() << "only a USB adapter can be pulled";
  CloseHandle(port_);
  port_ = INVALID_HANDLE_VALUE;
  // A thread's own wake-up descriptor comes with its first wait that blocks: made before
  // the count, so that it is not taken for one left behind.
  HANDLE once = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  WaitForSingleObject(once, 1);
  CloseHandle(once);
  size_t fds = 0, threads = 0;
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    // Counted after the first round, when threads of earlier tests have surely ended.
    if (round == 1) {
      fds = Entries("/proc/self/fd");
      threads = Entries("/proc/self/task");
    }
    Open();
    Configure(115200);
    ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
    Overlapped wait, read;
    DWORD events = 0, n = 0;
    char buf[16];
    EXPECT_FALSE(WaitCommEvent(port_, &events, &wait.ov));
    EXPECT_FALSE(ReadFile(port_, buf, sizeof buf, &n, &read.ov));
    UnplugUsbAdapter(Device());
    ASSERT_TRUE(read.WaitDone());
    ASSERT_TRUE(wait.WaitDone());
    EXPECT_FALSE(GetOverlappedResult(port_, &read.ov, &n, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(GetOverlappedResult(port_, &wait.ov, &n, FALSE));
    PlugBackUsbAdapter(Device());
    CloseHandle(port_);
    port_ = INVALID_HANDLE_VALUE;
    close(far_);
    far_ = -1;
  }
  EXPECT_EQ(Entries("/proc/self/fd"), fds);
  EXPECT_LE(testing_support::ThreadsOnceReaped(threads), threads);
  Open();
}

std::string NameOf(const ::testing::TestParamInfo<Line>& info) { return LineName(info.param); }

INSTANTIATE_TEST_SUITE_P(RealDrivers, RealDriver, ::testing::ValuesIn(RealLines()), NameOf);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(RealDriver);

}  // namespace
}  // namespace platform::testing
