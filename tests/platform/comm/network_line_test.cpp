// Network ports against real servers (ser2net, pyserial's) in front of a pty, and against
// a server the test plays where a real one cannot be made to misbehave.
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <random>
#include <thread>

#include "far_end.h"
#include "network_servers.h"
#include "platform/diagnosis/port_diagnosis.h"

namespace platform::testing {
namespace {

using Server = ServedPort::Server;

HANDLE Open(const std::string& url) {
  const HANDLE port = OpenPort(url);
  if (port != INVALID_HANDLE_VALUE) {
    COMMTIMEOUTS t{MAXDWORD, MAXDWORD, 5000, 0, 0};
    SetCommTimeouts(port, &t);
  }
  return port;
}

// Reads until count bytes came or a read came back empty.
std::string ReadAll(HANDLE port, size_t count) {
  std::string got;
  std::vector<char> buf(64 * 1024);
  while (got.size() < count) {
    Overlapped op;
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(buf.size(), count - got.size()));
    if (!ReadFile(port, buf.data(), want, &n, &op.ov)) {
      if (GetLastError() != ERROR_IO_PENDING || !op.WaitDone(10s)) break;
      if (!GetOverlappedResult(port, &op.ov, &n, FALSE)) break;
    }
    if (n == 0) break;
    got.append(buf.data(), n);
  }
  return got;
}

bool WriteAll(HANDLE port, const std::string& bytes) {
  Overlapped op;
  DWORD n = 0;
  if (!WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &op.ov)) {
    if (GetLastError() != ERROR_IO_PENDING || !op.WaitDone(60s)) return false;
    if (!GetOverlappedResult(port, &op.ov, &n, FALSE)) return false;
  }
  return n == bytes.size();
}

// What the far port got: count bytes, or what came within a generous time.
std::string ReadFar(int fd, size_t count) {
  std::string got;
  char buf[4096];
  while (got.size() < count) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0) break;
    const ssize_t r = read(fd, buf, std::min(sizeof buf, count - got.size()));
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

std::string RandomBytes(size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(count, '\0');
  for (char& b : bytes) b = static_cast<char>(random() & 0xFF);
  return bytes;
}

class NetworkServer : public ::testing::TestWithParam<Server> {
 protected:
  void SetUp() override {
    served_ = std::make_unique<ServedPort>(GetParam());
    ASSERT_TRUE(served_->Serving());
    far_ = dup(served_->Master());
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
    close(far_);
  }

  termios2 FarTermios() const {
    termios2 t{};
    EXPECT_EQ(ioctl(far_, TCGETS2, &t), 0);
    return t;
  }

  std::unique_ptr<ServedPort> served_;
  int far_ = -1;
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_P(NetworkServer, EveryBaudRateAndFormatReachesTheFarPort) {
  port_ = Open(served_->Url());
  ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
  for (DWORD baud : {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600,
                     115200, 128000, 256000}) {
    DCB dcb = PlainDcb(baud);
    ASSERT_TRUE(SetCommState(port_, &dcb)) << baud << ": " << GetLastError();
    EXPECT_EQ(FarTermios().c_ospeed, baud);
  }
  // A pty keeps stop bits and hardware flow control (its character size and parity stay
  // CS8 without PARENB whatever is asked; the driver rig shows those on a real port).
  DCB dcb = PlainDcb(19200);
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = 1;
  ASSERT_TRUE(SetCommState(port_, &dcb)) << GetLastError();
  EXPECT_TRUE(FarTermios().c_cflag & CSTOPB);
  EXPECT_TRUE(FarTermios().c_cflag & CRTSCTS);
}

// The stream holds every byte value, the telnet escape among them, in both directions at
// once. pyserial's server decodes byte by byte in Python: it gets a shorter one.
TEST_P(NetworkServer, AStreamArrivesIntactBothWays) {
  port_ = Open(served_->Url());
  ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
  DCB dcb = PlainDcb(115200);
  ASSERT_TRUE(SetCommState(port_, &dcb));
  const size_t size = GetParam() == Server::Ser2net ? 8u << 20 : 512u << 10;
  const std::string out = RandomBytes(size, 1), in = RandomBytes(size, 2);
  std::string farGot;
  std::thread farEnd([&] {
    size_t sent = 0;
    char buf[16384];
    while (farGot.size() < size || sent < size) {
      pollfd p{far_, static_cast<short>(POLLIN | (sent < size ? POLLOUT : 0)), 0};
      if (poll(&p, 1, 20000) <= 0) return;
      if (p.revents & POLLOUT) {
        const ssize_t n = write(far_, in.data() + sent, std::min<size_t>(4096, size - sent));
        if (n > 0) sent += static_cast<size_t>(n);
      }
      const ssize_t r = (p.revents & POLLIN) ? read(far_, buf, sizeof buf) : 0;
      if (r > 0) farGot.append(buf, static_cast<size_t>(r));
    }
  });
  EXPECT_TRUE(WriteAll(port_, out));
  const std::string got = ReadAll(port_, size);
  farEnd.join();
  EXPECT_TRUE(got == in) << got.size() << " of " << size << " bytes came";
  EXPECT_TRUE(farGot == out) << farGot.size() << " of " << size << " bytes reached the far port";
}

// The server switched off is a pulled cable: pending operations end with 5; switched on
// again, the same name opens and carries data.
TEST_P(NetworkServer, AServerThatGoesAwayEndsPendingOperationsAndComesBackByName) {
  port_ = Open(served_->Url());
  ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
  COMMTIMEOUTS t{0, 0, 0, 0, 0};
  ASSERT_TRUE(SetCommTimeouts(port_, &t));
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  Overlapped wait, reading;
  DWORD events = 0, n = 0;
  char buf[4];
  EXPECT_FALSE(WaitCommEvent(port_, &events, &wait.ov));
  EXPECT_FALSE(ReadFile(port_, buf, sizeof buf, &n, &reading.ov));
  served_->Stop();
  ASSERT_TRUE(reading.WaitDone());
  ASSERT_TRUE(wait.WaitDone());
  EXPECT_FALSE(GetOverlappedResult(port_, &reading.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(GetOverlappedResult(port_, &wait.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(port_);

  ASSERT_TRUE(served_->Start());
  port_ = Open(served_->Url());
  ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_TRUE(WriteAll(port_, "again"));
  EXPECT_EQ(ReadFar(far_, 5), "again");
}

INSTANTIATE_TEST_SUITE_P(Servers, NetworkServer,
                         ::testing::Values(Server::Ser2net, Server::Pyserial),
                         [](const auto& info) {
                           return info.param == Server::Ser2net ? "Ser2net" : "Pyserial";
                         });

// Raw TCP carries the data as it is; the settings stay here and the far port keeps its own.
TEST(RawTcpPort, DataPassesAsItIsAndSettingsStayHere) {
  ServedPort served(Server::Ser2netRaw);
  ASSERT_TRUE(served.Serving());
  const HANDLE port = Open(served.Url());
  ASSERT_NE(port, INVALID_HANDLE_VALUE) << GetLastError();
  termios2 far{};
  ioctl(served.Master(), TCGETS2, &far);
  const speed_t farSpeed = far.c_ospeed;
  DCB dcb = PlainDcb(1234);
  dcb.ByteSize = 5;
  dcb.StopBits = ONE5STOPBITS;
  EXPECT_TRUE(SetCommState(port, &dcb));
  DCB kept{};
  EXPECT_TRUE(GetCommState(port, &kept));
  EXPECT_EQ(kept.BaudRate, 1234u);
  ioctl(served.Master(), TCGETS2, &far);
  EXPECT_EQ(far.c_ospeed, farSpeed);
  DWORD modem = 99;
  EXPECT_TRUE(GetCommModemStatus(port, &modem));
  EXPECT_EQ(modem, 0u);
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  EXPECT_TRUE(WriteAll(port, all));
  EXPECT_EQ(ReadFar(served.Master(), all.size()), all);
  ASSERT_EQ(write(served.Master(), all.data(), all.size()), 256);
  EXPECT_EQ(ReadAll(port, 256), all);
  CloseHandle(port);
}

// Answers a real server cannot be made to give: a value other than the one asked, none at
// all, reports of every kind, and a refusal of the option.
class PlayedServer : public ::testing::Test {
 protected:
  void Start(ScriptedServer::Script script) {
    server_ = std::make_unique<ScriptedServer>(std::move(script));
    port_ = Open(server_->Url());
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }

  std::unique_ptr<ScriptedServer> server_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(PlayedServer, AValueTheServerDoesNotConfirmIsRefusedAndTheOldOneSetBack) {
  ScriptedServer::Script script;
  script.answer = [](const comport::Setting& s) -> std::optional<uint32_t> {
    if (s.command == comport::kSetBaudRate && s.value == 57600) return 9600;
    if (s.command == comport::kSetStopSize && s.value == 2) return std::nullopt;
    return s.value;
  };
  Start(script);
  DCB first = PlainDcb(19200);
  ASSERT_TRUE(SetCommState(port_, &first)) << GetLastError();
  struct Case {
    DWORD baud;
    BYTE stopBits;
    uint8_t refused;  // the command that is set back, 0 when the change is taken
  };
  const Case cases[] = {{57600, ONESTOPBIT, comport::kSetBaudRate},
                        {19200, TWOSTOPBITS, comport::kSetStopSize},
                        {38400, ONESTOPBIT, 0}};
  DWORD current = 19200;
  for (const Case& c : cases) {
    DCB dcb = PlainDcb(c.baud);
    dcb.StopBits = c.stopBits;
    EXPECT_EQ(SetCommState(port_, &dcb) == FALSE, c.refused != 0) << c.baud;
    if (c.refused) {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    DCB now{};
    ASSERT_TRUE(GetCommState(port_, &now));
    if (!c.refused) current = c.baud;
    EXPECT_EQ(now.BaudRate, current);
    EXPECT_EQ(now.StopBits, c.refused ? ONESTOPBIT : c.stopBits);
    if (c.refused) {
      const auto asked = server_->Asked();
      EXPECT_EQ(asked.back().command, c.refused) << "the old value is asked for again";
      EXPECT_EQ(asked.back().value, c.refused == comport::kSetBaudRate ? 19200u : 1u);
    }
  }
}

// Reports arrive among the data and never in it.
TEST_F(PlayedServer, ModemAndLineStateReportsBecomeEventsErrorsAndStatus) {
  ScriptedServer::Script script;
  script.modemState = 0x30;
  Start(script);
  DCB dcb = PlainDcb(9600);
  dcb.fParity = 1;
  ASSERT_TRUE(SetCommState(port_, &dcb));
  DWORD status = 0;
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, DWORD{MS_CTS_ON | MS_DSR_ON});
  struct Case {
    std::string report;  // what follows IAC SB COM-PORT-OPTION, before IAC SE
    DWORD events, errors, status;
  };
  const Case cases[] = {{"\x6B\x21", EV_CTS, 0, MS_DSR_ON},
                        {"\x6B\xE8", EV_RLSD | EV_RING, 0, MS_DSR_ON | MS_RING_ON | MS_RLSD_ON},
                        {"\x6B\x80", EV_DSR, 0, MS_RLSD_ON},
                        // Changes the server saw come and go between two reports.
                        {"\x6B\x81", EV_CTS, 0, MS_RLSD_ON},
                        {"\x6B\x84", EV_RING, 0, MS_RLSD_ON},
                        {"\x6A\x10", EV_BREAK, CE_BREAK, MS_RLSD_ON},
                        {"\x6A\x0E", EV_ERR, CE_FRAME | CE_RXPARITY | CE_OVERRUN, MS_RLSD_ON}};
  const DWORD mask = EV_CTS | EV_DSR | EV_RLSD | EV_RING | EV_BREAK | EV_ERR;
  std::string sent;
  for (const Case& c : cases) {
    ASSERT_TRUE(SetCommMask(port_, mask));
    const std::string wire = "a\xFF\xFF\xFF\xFA\x2C" + c.report +
                             "\xFF\xF0"
                             "b";
    sent +=
        "a\xFF"
        "b";
    server_->Send(std::vector<uint8_t>(wire.begin(), wire.end()));
    Overlapped op;
    DWORD events = 0;
    if (!WaitCommEvent(port_, &events, &op.ov)) {
      ASSERT_TRUE(op.WaitDone()) << c.report;
    }
    EXPECT_EQ(events, c.events) << int(uint8_t(c.report[1]));
    DWORD errors = 0;
    ASSERT_TRUE(ClearCommError(port_, &errors, nullptr));
    EXPECT_EQ(errors, c.errors) << int(uint8_t(c.report[1]));
    ASSERT_TRUE(GetCommModemStatus(port_, &status));
    EXPECT_EQ(status, c.status) << int(uint8_t(c.report[1]));
  }
  EXPECT_EQ(ReadAll(port_, sent.size()), sent);
}

TEST_F(PlayedServer, WithoutTheOptionDataFlowsButSettingsAreNotSupported) {
  ScriptedServer::Script script;
  script.takesComPortOption = false;
  Start(script);
  DCB dcb = PlainDcb(9600);
  EXPECT_FALSE(SetCommState(port_, &dcb));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  EXPECT_TRUE(WriteAll(port_, "x\xFFy"));
  EXPECT_EQ(server_->Data(3), "x\xFFy");
  server_->Send({'o', 0xFF, 0xFF, 'k'});
  EXPECT_EQ(ReadAll(port_, 3), "o\xFFk");
}

// What the device's calls become at the far port: purges, DTR and RTS, and the flow
// control that holds the far port while the queue here is nearly full.
TEST_F(PlayedServer, CallsReachTheFarPortAsCommands) {
  Start({});
  ASSERT_TRUE(SetupComm(port_, 100, 100));
  DCB dcb = PlainDcb(9600);
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  ASSERT_TRUE(SetCommState(port_, &dcb));
  // The masks, the five settings, DTR and RTS on.
  ASSERT_TRUE(server_->WaitForAsked(9));
  DCB held = dcb;
  held.fDtrControl = DTR_CONTROL_DISABLE;
  held.fRtsControl = RTS_CONTROL_DISABLE;
  held.fInX = 1;
  held.XoffLim = 30;
  held.XonLim = 10;
  using S = comport::Setting;
  struct Case {
    const char* what;
    std::function<void()> call;
    std::vector<S> told;
  };
  const Case cases[] = {
      {"receive purge", [&] { PurgeComm(port_, PURGE_RXCLEAR); }, {{12, 1}}},
      {"transmit purge", [&] { PurgeComm(port_, PURGE_TXCLEAR); }, {{12, 2}}},
      {"both", [&] { PurgeComm(port_, PURGE_RXCLEAR | PURGE_TXCLEAR); }, {{12, 2}, {12, 1}}},
      {"DTR and RTS off", [&] { SetCommState(port_, &held); }, {{5, 9}, {5, 12}}},
      {"nearly full", [&] { server_->Send(std::vector<uint8_t>(75, 'x')); }, {{8, 0}}},
      {"drained", [&] { ReadAll(port_, 70); }, {{9, 0}}},
  };
  for (const Case& c : cases) {
    const size_t before = server_->Asked().size();
    c.call();
    ASSERT_TRUE(server_->WaitForAsked(before + c.told.size())) << c.what;
    const auto asked = server_->Asked();
    EXPECT_EQ(std::vector<S>(asked.begin() + static_cast<ptrdiff_t>(before), asked.end()), c.told)
        << c.what;
  }
}

// Each way an open fails has its own code, and the operator is told which it was.
TEST(NetworkOpen, EachFailureHasItsCode) {
  // A listener whose queue is full drops new connections unanswered; one never accepted
  // from takes them and says nothing.
  const auto listener = [](int backlog, int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    listen(fd, backlog);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
  };
  int silentPort = 0, fullPort = 0;
  const int silent = listener(4, silentPort), full = listener(0, fullPort);
  const HANDLE filler = OpenPort("socket://127.0.0.1:" + std::to_string(fullPort));
  ASSERT_NE(filler, INVALID_HANDLE_VALUE);
  ScriptedServer open({});
  const HANDLE first = Open(open.Url());
  ASSERT_NE(first, INVALID_HANDLE_VALUE);

  struct Case {
    std::string name;
    std::vector<DWORD> errors;
    std::string says;  // in what the operator reads
  };
  const std::string refused = std::to_string(FreeLocalPort());
  const Case cases[] = {
      {"rfc2217://127.0.0.1:" + refused,
       {WSAECONNREFUSED},
       "Nothing listens on port " + refused + " of 127.0.0.1"},
      // Without a name server at hand the lookup cannot even ask.
      {"socket://rack-3.invalid:7001", {WSAHOST_NOT_FOUND, WSATRY_AGAIN}, "rack-3.invalid "},
      {"rfc2217://127.0.0.1:" + std::to_string(silentPort),
       {ERROR_SEM_TIMEOUT},
       "did not answer as an RFC 2217 server"},
      {"rfc2217://localhost:" + std::to_string(fullPort),
       {WSAETIMEDOUT},
       "localhost did not answer within 3 s"},
      {"rfc2217://127.0.0.1", {ERROR_INVALID_NAME}, "is no network port name"},
      {open.Url(), {ERROR_ACCESS_DENIED}, "is open already"},
      {"socket://127.0.0.1:" + open.Url().substr(open.Url().rfind(':') + 1),
       {ERROR_ACCESS_DENIED},
       "is open already"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenPort(c.name), INVALID_HANDLE_VALUE) << c.name;
    const DWORD error = GetLastError();
    EXPECT_NE(std::find(c.errors.begin(), c.errors.end(), error), c.errors.end())
        << c.name << ": " << error;
    const std::string why = ExplainOpenFailure(DevicePathForPort(c.name), error, {});
    EXPECT_NE(why.find(c.says), std::string::npos) << why;
  }
  CloseHandle(first);
  CloseHandle(filler);
  close(silent);
  close(full);
}

}  // namespace
}  // namespace platform::testing
