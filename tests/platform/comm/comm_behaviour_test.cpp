// One behaviour suite for the comm services, run on the virtual line, on a real
// pseudo-terminal pair, and on network ports served by real servers.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "far_end.h"

namespace platform::testing {
namespace {

// Wine answers some calls on a pseudo-terminal unlike Windows on a COM port; such a case
// is skipped there, with the reason.
#define SKIP_UNDER_WINE(why) \
  if (UnderWine()) GTEST_SKIP() << "under Wine: " << why
constexpr const char* kWineEvents = "its WaitCommEvent completes at once on a pseudo-terminal";
constexpr const char* kWineReadAtOnce = "an overlapped read meant to return at once stays pending";
constexpr const char* kWineFirstByte = "a read does not complete on its first byte";
constexpr const char* kWinePurge = "PurgeComm does not end a pending read";
constexpr const char* kWineQueue = "SetupComm fails (50): queue sizes and flow limits are not kept";
constexpr const char* kWineChecks =
    "SetCommState refuses with 50, not 87, and takes 1.5 stop bits with 8 data bits";
constexpr const char* kWineSharing = "a second open of a COM port is not refused";
constexpr const char* kWineEventless =
    "a block without an event whose read times out is not completed as Windows completes it";

class CommBehaviour : public ::testing::TestWithParam<Line> {
 protected:
  void SetUp() override {
    far_ = MakeFarEnd(GetParam());
    port_ = OpenPort(far_->PortName());
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    SetTimeouts({MAXDWORD, 0, 0, 0, 0});
    DCB dcb = Dcb();
    ASSERT_TRUE(SetCommState(port_, &dcb));
  }
  void TearDown() override {
    if (port_ != INVALID_HANDLE_VALUE) CloseHandle(port_);
  }

  static DCB Dcb() { return PlainDcb(115200); }
  void SetTimeouts(COMMTIMEOUTS t) { ASSERT_TRUE(SetCommTimeouts(port_, &t)); }

  DWORD InQueue() {
    COMSTAT stat{};
    DWORD errors = 0;
    EXPECT_TRUE(ClearCommError(port_, &errors, &stat));
    return stat.cbInQue;
  }

  // Waits for one serial event batch, failing the test on a timeout.
  DWORD NextEvents(DWORD mask) {
    EXPECT_TRUE(SetCommMask(port_, mask));
    return WaitEvents();
  }
  DWORD WaitEvents() {
    Overlapped op;
    DWORD events = 0;
    if (!WaitCommEvent(port_, &events, &op.ov)) {
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    EXPECT_TRUE(op.WaitDone());
    DWORD unused = 0;
    EXPECT_TRUE(GetOverlappedResult(port_, &op.ov, &unused, FALSE));
    return events;
  }

  void WaitForQueued(DWORD count) {
    if (UnderWine()) return PollForQueued(count);
    ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
    while (InQueue() < count) WaitEvents();
  }
  // Without a comm event to wait for, the queue's count is all there is to watch.
  void PollForQueued(DWORD count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (InQueue() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
  }

  std::string Read(DWORD count, DWORD* result = nullptr) {
    Overlapped op;
    std::string text(count, '\0');
    DWORD n = 0;
    if (!ReadFile(port_, text.data(), count, &n, &op.ov)) {
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    EXPECT_TRUE(op.WaitDone());
    const BOOL ok = GetOverlappedResult(port_, &op.ov, &n, FALSE);
    if (result) *result = ok ? 0 : GetLastError();
    text.resize(n);
    return text;
  }

  DWORD Write(const std::string& bytes) {
    Overlapped op;
    DWORD n = 0;
    if (!WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, &op.ov)) {
      EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    }
    EXPECT_TRUE(op.WaitDone());
    EXPECT_TRUE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
    return n;
  }

  std::unique_ptr<FarEnd> far_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_P(CommBehaviour, WrittenBytesArriveAndReceivedBytesAreRead) {
  EXPECT_EQ(Write("\x02"
                  "01WHO\r\n"),
            8u);
  EXPECT_EQ(far_->Receive(8),
            "\x02"
            "01WHO\r\n");

  far_->Send("answer");
  WaitForQueued(6);
  EXPECT_EQ(Read(3), "ans");
  EXPECT_EQ(Read(10), "wer");

  // Every byte value, the kernel's error-mark escape and NUL among them, arrives as sent.
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  far_->Send(all);
  WaitForQueued(256);
  EXPECT_EQ(Read(256), all);
}

TEST_P(CommBehaviour, DefaultReadReturnsAtOnceWithWhatIsQueued) {
  SKIP_UNDER_WINE(kWineReadAtOnce);
  DWORD n = 99;
  Overlapped op;
  char buf[8];
  EXPECT_TRUE(ReadFile(port_, buf, sizeof buf, &n, &op.ov));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(op.IsDone());
}

TEST_P(CommBehaviour, ReceivedCharacterEventsComeOncePerArrival) {
  SKIP_UNDER_WINE(kWineEvents);
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR | EV_TXEMPTY));
  far_->Send("a");
  EXPECT_EQ(WaitEvents(), DWORD{EV_RXCHAR});
  // The byte stays queued: a new wait stays pending until something new happens.
  Overlapped op;
  DWORD events = 0;
  EXPECT_FALSE(WaitCommEvent(port_, &events, &op.ov));
  EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
  EXPECT_FALSE(op.WaitDone(50ms));
  far_->Send("b");
  ASSERT_TRUE(op.WaitDone());
  EXPECT_EQ(events, DWORD{EV_RXCHAR});
  EXPECT_EQ(InQueue(), 2u);
}

TEST_P(CommBehaviour, EventsBeforeTheWaitAreKeptInTheHistory) {
  SKIP_UNDER_WINE(kWineEvents);
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  far_->Send("xyz");
  WaitForQueued(3);
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR | EV_TXEMPTY));
  Write("q");
  EXPECT_EQ(WaitEvents(), DWORD{EV_TXEMPTY});
}

TEST_P(CommBehaviour, NewMaskCompletesAPendingWaitWithNoEvents) {
  SKIP_UNDER_WINE(kWineEvents);
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  Overlapped op;
  DWORD events = 123;
  EXPECT_FALSE(WaitCommEvent(port_, &events, &op.ov));
  DWORD n = 0;
  EXPECT_FALSE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  ASSERT_TRUE(SetCommMask(port_, 0));
  ASSERT_TRUE(op.WaitDone());
  EXPECT_TRUE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
  EXPECT_EQ(events, 0u);
}

TEST_P(CommBehaviour, TotalTimeoutCompletesWithAShortCountAsSuccess) {
  SetTimeouts({0, 0, 30, 0, 0});
  far_->Send("abc");
  DWORD result = 1;
  EXPECT_EQ(Read(10, &result), "abc");
  EXPECT_EQ(result, 0u);
}

TEST_P(CommBehaviour, IntervalTimeoutEndsAReadAfterAPause) {
  SetTimeouts({20, 0, 0, 0, 0});
  Overlapped op;
  char buf[100];
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(port_, buf, sizeof buf, &n, &op.ov));
  EXPECT_FALSE(op.WaitDone(40ms));  // no byte yet: the interval has not started
  far_->Send("12345");
  ASSERT_TRUE(op.WaitDone());
  EXPECT_TRUE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
  EXPECT_EQ(std::string(buf, n), "12345");
}

TEST_P(CommBehaviour, FirstByteModeReturnsOneByteWhenItComes) {
  SKIP_UNDER_WINE(kWineFirstByte);
  SetTimeouts({MAXDWORD, MAXDWORD, 5000, 0, 0});
  Overlapped op;
  char buf[10];
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(port_, buf, sizeof buf, &n, &op.ov));
  far_->Send("hi");
  ASSERT_TRUE(op.WaitDone());
  EXPECT_TRUE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
  EXPECT_EQ(std::string(buf, n), "h");
  // With bytes queued it returns them at once.
  WaitForQueued(1);
  EXPECT_EQ(Read(10), "i");
}

TEST_P(CommBehaviour, MaxIntervalAndMultiplierWithoutConstantReturnAtOnce) {
  SKIP_UNDER_WINE(kWineReadAtOnce);
  SetTimeouts({MAXDWORD, MAXDWORD, 0, 0, 0});
  EXPECT_EQ(Read(10), "");
  far_->Send("ab");
  WaitForQueued(2);
  EXPECT_EQ(Read(10), "ab");
}

TEST_P(CommBehaviour, FirstByteModeTimesOutWithNothing) {
  SKIP_UNDER_WINE(kWineFirstByte);
  SetTimeouts({MAXDWORD, MAXDWORD, 20, 0, 0});
  DWORD result = 1;
  EXPECT_EQ(Read(4, &result), "");
  EXPECT_EQ(result, 0u);
}

TEST_P(CommBehaviour, PurgeAbortEndsPendingReadsAndClearDiscards) {
  SKIP_UNDER_WINE(kWinePurge);
  SetTimeouts({0, 0, 0, 0, 0});
  Overlapped op;
  char buf[4];
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(port_, buf, sizeof buf, &n, &op.ov));
  EXPECT_FALSE(op.IsDone());
  ASSERT_TRUE(PurgeComm(port_, PURGE_RXABORT));
  ASSERT_TRUE(op.WaitDone());
  EXPECT_FALSE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);

  SetTimeouts({MAXDWORD, 0, 0, 0, 0});
  far_->Send("stale");
  WaitForQueued(5);
  ASSERT_TRUE(PurgeComm(port_, PURGE_RXCLEAR));
  EXPECT_EQ(InQueue(), 0u);
  EXPECT_FALSE(PurgeComm(port_, 0x10));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_P(CommBehaviour, EightyPercentFullIsReportedOncePerCrossing) {
  SKIP_UNDER_WINE(kWineEvents);
  ASSERT_TRUE(SetupComm(port_, 100, 100));
  ASSERT_TRUE(SetCommMask(port_, EV_RX80FULL | EV_RXCHAR));
  far_->Send(std::string(79, 'x'));
  WaitForQueued(79);
  ASSERT_TRUE(SetCommMask(port_, EV_RX80FULL | EV_RXCHAR));
  far_->Send("y");
  EXPECT_EQ(WaitEvents() & EV_RX80FULL, DWORD{EV_RX80FULL});
  far_->Send("z");
  EXPECT_EQ(WaitEvents(), DWORD{EV_RXCHAR});
}

// A read takes what the full queue left on the line as it makes room, as Windows' driver
// puts arriving bytes straight into a pending read's buffer: a part may exceed the queue.
TEST_P(CommBehaviour, AFullQueueHoldsTheSenderInsteadOfDropping) {
  SKIP_UNDER_WINE(kWineQueue);
  ASSERT_TRUE(SetupComm(port_, 64, 64));
  std::string sent;
  for (int i = 0; i < 3000; ++i) sent.push_back(static_cast<char>('a' + i % 26));
  far_->Send(sent);
  std::string got;
  SetTimeouts({MAXDWORD, MAXDWORD, 2000, 0, 0});
  while (got.size() < sent.size()) {
    const std::string part = Read(1000);
    if (part.empty()) break;
    got += part;
  }
  EXPECT_EQ(got, sent);
}

TEST_P(CommBehaviour, XoffIsSentNearlyFullAndXonWhenDrained) {
  SKIP_UNDER_WINE(kWineQueue);
  if (!far_->SeesFlowCharacters()) GTEST_SKIP() << "the far end is told otherwise";
  ASSERT_TRUE(SetupComm(port_, 100, 100));
  DCB dcb = Dcb();
  dcb.fInX = 1;
  dcb.XoffLim = 30;
  dcb.XonLim = 10;
  ASSERT_TRUE(SetCommState(port_, &dcb));
  far_->Send(std::string(75, 'x'));
  EXPECT_EQ(far_->Receive(1), "\x13");
  WaitForQueued(75);
  EXPECT_EQ(Read(70).size(), 70u);
  EXPECT_EQ(far_->Receive(1), "\x11");
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(port_, nullptr, &stat));
  EXPECT_EQ(stat.fXoffSent, 0u);
}

TEST_P(CommBehaviour, WriteTimeoutEndsWithAPartialCount) {
  if (!far_->CanStall()) GTEST_SKIP() << "a line without flow control cannot be held";
  far_->Stall();
  SetTimeouts({MAXDWORD, 0, 0, 0, 100});
  const std::string big(far_->StallAfter() + 4096, 'w');
  const DWORD written = Write(big);
  EXPECT_LT(written, big.size());
}

TEST_P(CommBehaviour, OutputQueueCountsWhatWaits) {
  if (!far_->CanStall()) GTEST_SKIP() << "a line without flow control cannot be held";
  far_->Stall();
  SetTimeouts({MAXDWORD, 0, 0, 0, 0});
  const std::string big(far_->StallAfter() + 4096, 'w');
  Overlapped op;
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(port_, big.data(), static_cast<DWORD>(big.size()), &n, &op.ov));
  COMSTAT stat{};
  ASSERT_TRUE(ClearCommError(port_, nullptr, &stat));
  EXPECT_GT(stat.cbOutQue, 0u);
  ASSERT_TRUE(PurgeComm(port_, PURGE_TXABORT));
  ASSERT_TRUE(op.WaitDone());
  EXPECT_FALSE(GetOverlappedResult(port_, &op.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
}

TEST_P(CommBehaviour, AVanishedDeviceEndsPendingOperationsAndLaterCalls) {
  if (!far_->CanVanish()) GTEST_SKIP() << "only a USB adapter can be pulled";
  SetTimeouts({0, 0, 0, 0, 0});
  ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
  Overlapped wait, read;
  DWORD events = 0, n = 0;
  char buf[4];
  EXPECT_FALSE(WaitCommEvent(port_, &events, &wait.ov));
  EXPECT_FALSE(ReadFile(port_, buf, sizeof buf, &n, &read.ov));
  far_->Vanish();
  ASSERT_TRUE(wait.WaitDone());
  ASSERT_TRUE(read.WaitDone());
  EXPECT_FALSE(GetOverlappedResult(port_, &read.ov, &n, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(GetOverlappedResult(port_, &wait.ov, &n, FALSE));
  Overlapped again;
  EXPECT_FALSE(WaitCommEvent(port_, &events, &again.ov));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(ClearCommError(port_, nullptr, nullptr));
  // Clean-up still works on a gone device.
  EXPECT_TRUE(SetCommMask(port_, 0));
  EXPECT_TRUE(PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT));
}

TEST_P(CommBehaviour, SettingsAreCheckedAsWindowsChecksThem) {
  SKIP_UNDER_WINE(kWineChecks);
  if (!far_->TakesEveryFormat()) GTEST_SKIP() << "the far port decides what it takes";
  struct Case {
    BYTE size, parity, stop;
    bool ok;
  };
  const Case cases[] = {{8, NOPARITY, ONESTOPBIT, true},
                        {5, ODDPARITY, ONE5STOPBITS, true},
                        {6, EVENPARITY, TWOSTOPBITS, true},
                        {4, NOPARITY, ONESTOPBIT, false},
                        {9, NOPARITY, ONESTOPBIT, false},
                        {8, 5, ONESTOPBIT, false},
                        {8, NOPARITY, 3, false},
                        {8, NOPARITY, ONE5STOPBITS, false},
                        {5, NOPARITY, TWOSTOPBITS, false}};
  // A driver may refuse what the checks allow (an FT232 has no 6 data bits), with 87 too.
  const bool driverMayRefuse = GetParam().kind == LineKind::Real;
  for (const Case& c : cases) {
    DCB dcb = Dcb();
    dcb.ByteSize = c.size;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop;
    const bool taken = SetCommState(port_, &dcb) != FALSE;
    if (!(c.ok && driverMayRefuse)) {
      EXPECT_EQ(taken, c.ok) << int(c.size) << int(c.parity);
    }
    if (!taken) {
      EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
  }
  DCB zeroBaud = Dcb();
  zeroBaud.BaudRate = 0;
  EXPECT_FALSE(SetCommState(port_, &zeroBaud));
  DCB sameFlowChars = Dcb();
  sameFlowChars.XoffChar = sameFlowChars.XonChar;
  EXPECT_FALSE(SetCommState(port_, &sameFlowChars));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// A call that entered the device before another thread closed its handle must leave
// cleanly, and later calls fail with 6.
TEST_P(CommBehaviour, ClosingWhileAnotherThreadIsInsideACallIsSafe) {
  if (!far_->ReopensAtOnce()) GTEST_SKIP() << "the far end takes seconds to take a port back";
  for (int round = 0; round < 200; ++round) {
    if (port_ == INVALID_HANDLE_VALUE) port_ = OpenPort(far_->PortName());
    ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
    std::atomic<bool> entered{false};
    std::thread caller([&, port = port_] {
      DWORD status = 0;
      while (GetCommModemStatus(port, &status) || GetLastError() != ERROR_INVALID_HANDLE) {
        entered = true;
      }
    });
    while (!entered) std::this_thread::yield();
    EXPECT_TRUE(CloseHandle(port_));
    port_ = INVALID_HANDLE_VALUE;
    caller.join();
  }
}

// Windows waits on the file handle for a block without an event, and on a handle opened
// without FILE_FLAG_OVERLAPPED every transfer returns once it completes: by its timeouts,
// or by a close from another thread.
TEST_P(CommBehaviour, BlocksWithoutAnEventAndSynchronousHandlesWaitForTheOperation) {
  SKIP_UNDER_WINE(kWineEventless);
  if (!far_->ReopensAtOnce()) GTEST_SKIP() << "the far end takes seconds to take a port back";
  char buf[8];
  DWORD n = 0;
  SetTimeouts({0, 0, 5000, 0, 0});
  OVERLAPPED eventless{};
  EXPECT_FALSE(ReadFile(port_, buf, 5, &n, &eventless));
  far_->Send("hello");
  ASSERT_TRUE(GetOverlappedResult(port_, &eventless, &n, TRUE)) << GetLastError();
  EXPECT_EQ(std::string(buf, n), "hello");
  SetTimeouts({0, 0, 30, 0, 0});
  eventless = OVERLAPPED{};
  EXPECT_FALSE(ReadFile(port_, buf, 5, &n, &eventless));
  EXPECT_TRUE(GetOverlappedResult(port_, &eventless, &n, TRUE));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(ReadFile(port_, buf, 5, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  CloseHandle(port_);
  port_ = OpenPort(far_->PortName(), 0);
  ASSERT_NE(port_, INVALID_HANDLE_VALUE) << GetLastError();
  DCB dcb = Dcb();
  ASSERT_TRUE(SetCommState(port_, &dcb));
  SetTimeouts({0, 0, 30, 0, 0});
  n = 99;
  EXPECT_TRUE(ReadFile(port_, buf, 5, &n, nullptr));
  EXPECT_EQ(n, 0u);
  EXPECT_TRUE(WriteFile(port_, "ping", 4, &n, nullptr));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(far_->Receive(4), "ping");
  SetTimeouts({0, 0, 5000, 0, 0});
  far_->Send("pong");
  EXPECT_TRUE(ReadFile(port_, buf, 4, &n, nullptr));
  EXPECT_EQ(std::string(buf, n), "pong");
  if (!UnderWine()) {  // its WaitCommEvent completes at once on a pseudo-terminal
    ASSERT_TRUE(SetCommMask(port_, EV_RXCHAR));
    far_->Send("e");
    DWORD events = 0;
    EXPECT_TRUE(WaitCommEvent(port_, &events, nullptr));
    EXPECT_EQ(events, DWORD{EV_RXCHAR});
  }

  ASSERT_TRUE(PurgeComm(port_, PURGE_RXCLEAR));  // the byte the wait saw would end the read
  SetTimeouts({0, 0, 0, 0, 0});
  DWORD error = 0;
  std::thread reader([&error, port = port_] {
    char c;
    DWORD got = 0;
    if (!ReadFile(port, &c, 1, &got, nullptr)) error = GetLastError();
  });
  CloseHandle(port_);
  port_ = INVALID_HANDLE_VALUE;
  reader.join();
  EXPECT_TRUE(error == ERROR_OPERATION_ABORTED || error == ERROR_INVALID_HANDLE) << error;
}

TEST_P(CommBehaviour, ASecondOpenOfTheSameDeviceIsRefused) {
  SKIP_UNDER_WINE(kWineSharing);
  if (!far_->ReopensAtOnce()) GTEST_SKIP() << "the far end takes seconds to take a port back";
  const HANDLE second = OpenPort(far_->PortName());
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(port_);
  port_ = OpenPort(far_->PortName());
  EXPECT_NE(port_, INVALID_HANDLE_VALUE);
}

TEST_P(CommBehaviour, CallsOnAClosedHandleFailWithInvalidHandle) {
  CloseHandle(port_);
  DWORD status = 0;
  EXPECT_FALSE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseHandle(port_));
  port_ = INVALID_HANDLE_VALUE;
}

std::string NameOf(const ::testing::TestParamInfo<Line>& info) { return LineName(info.param); }

#ifdef _WIN32
// COM ports of the system's own, given by COMTEST_REAL_LINES ("COM20:COM21").
INSTANTIATE_TEST_SUITE_P(ComPorts, CommBehaviour, ::testing::ValuesIn(RealLines()), NameOf);
#else
INSTANTIATE_TEST_SUITE_P(Lines, CommBehaviour,
                         ::testing::Values(Line{LineKind::Virtual, "", ""},
                                           Line{LineKind::Pty, "", ""},
                                           Line{LineKind::Ser2net, "", ""},
                                           Line{LineKind::Pyserial, "", ""}),
                         NameOf);
// Only in the driver rig, where the kernel's own drivers sit under the ports.
INSTANTIATE_TEST_SUITE_P(RealDrivers, CommBehaviour, ::testing::ValuesIn(RealLines()), NameOf);
#endif
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CommBehaviour);

}  // namespace
}  // namespace platform::testing
