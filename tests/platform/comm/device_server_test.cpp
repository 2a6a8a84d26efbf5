// A port behind a device server, as on a plant floor: in the driver rig, ser2net serves
// the emulated FT232B through the guest's own ftdi_sio driver, and the port under test is
// its rfc2217:// name. Settings, data, modem-line changes and breaks cross both hops.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <cstdlib>

#include "far_end.h"
#include "network_servers.h"
#include "real_ports.h"

namespace platform::testing {
namespace {

class DeviceServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* adapter = std::getenv("COMTEST_ADAPTER");
    const char* control = std::getenv("COMTEST_ADAPTER_CONTROL");
    if (!adapter || !control) GTEST_SKIP() << "only in the driver rig";
    adapter_ = adapter;
    control_ = OpenRawPort(std::string("/dev/") + control, 115200);
    ASSERT_GE(control_, 0);
    Ask("received");  // what earlier cases sent through the chip is not this case's
    served_ = std::make_unique<ServedPort>(ServedPort::Server::Ser2net, "/dev/" + adapter_);
    ASSERT_TRUE(served_->Serving());
    port_ = OpenPort(served_->Url());
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError() << served_->Log();
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 5000, 0, 0};
    ASSERT_TRUE(SetCommTimeouts(port_, &t));
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    served_.reset();
    if (control_ >= 0) {
      Ask("modem 1 1 0 1");
      close(control_);
    }
  }

  // One control line to the emulator and its one-line answer.
  std::string Ask(const std::string& command) {
    const std::string line = command + "\n";
    EXPECT_EQ(write(control_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    std::string answer;
    for (char c = 0; c != '\n';) {
      pollfd p{control_, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0 || read(control_, &c, 1) != 1) return answer;
      if (c != '\n') answer += c;
    }
    return answer;
  }

  // Events of the mask, gathered until all of `wanted` came: the server looks at the modem
  // lines once a second and the chip reports them once a latency period.
  DWORD WaitFor(DWORD wanted) {
    DWORD events = 0;
    while ((events & wanted) != wanted) {
      Overlapped op;
      DWORD more = 0;
      if (!WaitCommEvent(port_, &more, &op.ov) && !op.WaitDone(10s)) break;
      events |= more;
    }
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

  std::string adapter_;
  int control_ = -1;
  std::unique_ptr<ServedPort> served_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(DeviceServer, FormatDataModemLinesAndBreaksCrossBothHops) {
  DCB dcb = PlainDcb(19200);
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  const DriverSettings driver = ReadDriverSettings(adapter_);
  EXPECT_EQ(driver.speed, 19200u);
  EXPECT_EQ(driver.cflag & 0x30, 0x20u) << "CS7 on the device server's port";
  EXPECT_TRUE(driver.cflag & 0x100) << "PARENB on the device server's port";

  Overlapped op;
  DWORD n = 0;
  if (!WriteFile(port_, "01WHO", 5, &n, &op.ov)) {
    ASSERT_TRUE(op.WaitDone());
  }
  std::string received;
  for (int asked = 0; asked < 100 && received.size() < 10; ++asked) {
    const std::string part = Ask("received");
    if (part != "-") received += part;
  }
  EXPECT_EQ(received, "303157484f");

  ASSERT_TRUE(SetCommMask(port_, EV_CTS | EV_DSR | EV_RLSD));
  ASSERT_EQ(Ask("modem 0 1 0 1"), "ok");
  EXPECT_EQ(WaitFor(EV_CTS), DWORD{EV_CTS});
  DWORD status = 0;
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, DWORD{MS_DSR_ON | MS_RLSD_ON});
  ASSERT_EQ(Ask("modem 1 1 0 0"), "ok");
  EXPECT_EQ(WaitFor(EV_CTS | EV_RLSD), DWORD{EV_CTS | EV_RLSD});
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, DWORD{MS_CTS_ON | MS_DSR_ON});

  // ser2net 4.3 reports no line state: a break on its port reaches the client as the NUL
  // byte its tty reads, in its place among the data.
  ASSERT_TRUE(SetCommMask(port_, EV_BREAK | EV_RXCHAR));
  ASSERT_EQ(Ask("inject 00 16"), "ok");
  ASSERT_EQ(Ask("inject 41 0"), "ok");
  EXPECT_EQ(WaitFor(EV_RXCHAR), DWORD{EV_RXCHAR});
  const std::string got = Read(2);
  EXPECT_EQ(got, std::string("\0A", 2));
}

}  // namespace
}  // namespace platform::testing
