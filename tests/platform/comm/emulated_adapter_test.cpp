// What QEMU's own models cannot show, through the kernel's ftdi_sio driver on an FT232B
// that the host emulates (tools/ftdi_emulator): modem-line changes, breaks and parity
// errors on received bytes, and RTS around a transmission paced by the baud rate. Runs in
// the driver rig, where COMTEST_ADAPTER names the adapter and COMTEST_ADAPTER_CONTROL the
// port that reaches the emulator's controls.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "far_end.h"
#include "real_ports.h"

namespace platform::testing {
namespace {

constexpr int kBreakStatus = 0x10, kParityStatus = 0x04;

class EmulatedAdapter : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* adapter = std::getenv("COMTEST_ADAPTER");
    const char* control = std::getenv("COMTEST_ADAPTER_CONTROL");
    if (!adapter || !control) GTEST_SKIP() << "only in the driver rig";
    control_ = OpenRawPort(std::string("/dev/") + control, 115200);
    ASSERT_GE(control_, 0);
    port_ = OpenPort(adapter);
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 2000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port_, &t));
    Configure(PlainDcb(115200));
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    if (control_ >= 0) {
      Ask("modem 1 1 0 1");
      close(control_);
    }
  }

  void Configure(DCB dcb) { ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError(); }

  // One control line to the emulator and its one-line answer.
  std::string Ask(const std::string& command) {
    const std::string line = command + "\n";
    EXPECT_EQ(write(control_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    std::string answer;
    char c = 0;
    while (c != '\n') {
      pollfd p{control_, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0 || read(control_, &c, 1) != 1) {
        ADD_FAILURE() << "the emulator did not answer " << command;
        return answer;
      }
      if (c != '\n') answer += c;
    }
    return answer;
  }

  // Waits for events of the mask set before the far end acted.
  DWORD WaitEvents() {
    Overlapped op;
    DWORD events = 0;
    if (!WaitCommEvent(port_, &events, &op.ov)) {
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    EXPECT_TRUE(op.WaitDone()) << "no event";
    return events;
  }

  // Reads until count bytes came or a read times out empty: each returns at its first byte.
  std::string Read(size_t count) {
    std::string got;
    for (DWORD n = 1; got.size() < count && n > 0;) {
      Overlapped op;
      std::string part(count - got.size(), '\0');
      n = 0;
      if (!ReadFile(port_, part.data(), static_cast<DWORD>(part.size()), &n, &op.ov)) {
        EXPECT_TRUE(op.WaitDone());
        GetOverlappedResult(port_, &op.ov, &n, FALSE);
      }
      got.append(part.data(), n);
    }
    return got;
  }

  DWORD TakeErrors() {
    DWORD errors = 0;
    EXPECT_TRUE(ClearCommError(port_, &errors, nullptr));
    return errors;
  }

  HANDLE port_ = INVALID_HANDLE_VALUE;
  int control_ = -1;
};

TEST_F(EmulatedAdapter, ModemLineChangesComeAsEventsAndStatus) {
  struct Case {
    const char* modem;  // CTS DSR RI DCD at the far end, set or for one status packet only
    DWORD event;
    DWORD status;  // what GetCommModemStatus shows then
  };
  const DWORD idle = MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON;
  const Case cases[] = {{"modem 0 1 0 1", EV_CTS, MS_DSR_ON | MS_RLSD_ON},
                        {"modem 0 0 0 1", EV_DSR, MS_RLSD_ON},
                        {"modem 0 0 0 0", EV_RLSD, 0},
                        {"modem 0 0 1 0", EV_RING, MS_RING_ON},
                        {"modem 1 1 0 1", EV_CTS | EV_DSR | EV_RLSD, idle},
                        {"pulse 0 1 0 1", EV_CTS, idle}};  // its way back may come apart
  const DWORD mask = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
  ASSERT_TRUE(SetCommMask(port_, mask));
  for (const Case& c : cases) {
    Overlapped op;
    DWORD events = 0;
    if (!WaitCommEvent(port_, &events, &op.ov)) {
      ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    ASSERT_EQ(Ask(c.modem), "ok");
    ASSERT_TRUE(op.WaitDone()) << c.modem;
    // Changes reach the driver with the chip's next status packet, so two may come apart.
    while ((events & c.event) != c.event) {
      DWORD more = 0;
      Overlapped next;
      if (!WaitCommEvent(port_, &more, &next.ov)) {
        ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
      }
      ASSERT_TRUE(next.WaitDone()) << c.modem;
      events |= more;
    }
    EXPECT_EQ(events & ~c.event, 0u) << c.modem << ": only the lines that changed";
    DWORD status = 0;
    ASSERT_TRUE(GetCommModemStatus(port_, &status));
    EXPECT_EQ(status, c.status) << c.modem;
  }
}

TEST_F(EmulatedAdapter, BreaksAndParityErrorsAreMarkedOnTheirBytes) {
  DCB dcb = PlainDcb(115200);
  dcb.fParity = 1;
  dcb.Parity = EVENPARITY;
  dcb.fErrorChar = 1;
  dcb.ErrorChar = '?';
  Configure(dcb);
  TakeErrors();
  ASSERT_TRUE(SetCommMask(port_, EV_BREAK));
  ASSERT_EQ(Ask("inject 00 " + std::to_string(kBreakStatus)), "ok");
  EXPECT_EQ(WaitEvents() & EV_BREAK, DWORD{EV_BREAK});
  EXPECT_EQ(TakeErrors() & CE_BREAK, DWORD{CE_BREAK});
  ASSERT_EQ(Ask("inject 41 0"), "ok");
  ASSERT_EQ(Ask("inject 42 " + std::to_string(kParityStatus)), "ok");
  ASSERT_EQ(Ask("inject 43 0"), "ok");
  EXPECT_EQ(Read(3), "A?C") << "the break is no NUL byte, and only B had the error";
  EXPECT_EQ(TakeErrors() & (CE_RXPARITY | CE_BREAK), DWORD{CE_RXPARITY});
}

// At 9600 baud an 8-byte frame is 8.3 ms on the wire: RTS must be up for all of it and
// drop soon after, where the driver has no RS-485 mode of its own.
TEST_F(EmulatedAdapter, RtsToggleCoversTheWholeFrame) {
  DCB dcb = PlainDcb(9600);
  dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  Configure(dcb);
  Ask("events");
  const std::string frame =
      "\x02"
      "01WHO\r\n";
  Overlapped op;
  DWORD n = 0;
  if (!WriteFile(port_, frame.data(), static_cast<DWORD>(frame.size()), &n, &op.ov)) {
    ASSERT_TRUE(op.WaitDone());
  }
  std::string events;
  for (int asked = 0; asked < 200 && events.find("R0") == std::string::npos; ++asked) {
    events += Ask("events");
  }
  std::istringstream words(events);
  long long rise = -1, fall = -1, txStart = -1, txEnd = -1;
  for (std::string word; words >> word;) {
    if (word == "R1") words >> rise;
    if (word == "R0") words >> fall;
    if (word == "TX") words >> txStart >> txEnd;
  }
  ASSERT_GE(rise, 0) << events;
  ASSERT_GE(fall, 0) << events;
  ASSERT_GE(txStart, 0) << events;
  EXPECT_NEAR(txEnd - txStart, 8333, 100) << "paced by the baud rate";
  EXPECT_LE(rise, txStart) << events;
  EXPECT_GE(fall, txEnd) << "RTS dropped while the frame was still on the wire: " << events;
  EXPECT_LT(fall - txEnd, 100000) << events;
  EXPECT_EQ(Ask("received"), "02303157484f0d0a");
  RecordProperty("rts", events);
}

}  // namespace
}  // namespace platform::testing
