// What only the virtual line shows: modem lines, injected failures, calls. Line errors and
// their reports are the device model's (device_model_test.cpp).
#include "platform/comm/virtual_line.h"

#include <gtest/gtest.h>

#include "far_end.h"

namespace platform::testing {
namespace {

class VirtualLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    far_ = InstallVirtualPort("VTEST");
    port_ = OpenPort("VTEST");
    ASSERT_NE(port_, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(port_, &t);
    Apply([](DCB&) {});
  }
  void TearDown() override {
    CloseHandle(port_);
    RemoveVirtualPort("VTEST");
  }

  template <typename Change>
  void Apply(Change change) {
    DCB dcb = PlainDcb(9600);
    change(dcb);
    ASSERT_TRUE(SetCommState(port_, &dcb));
  }

  // A new mask forgets earlier events, so arm before causing them.
  void Arm(DWORD mask) { EXPECT_TRUE(SetCommMask(port_, mask)); }
  DWORD Wait() {
    Overlapped op;
    DWORD events = 0;
    WaitCommEvent(port_, &events, &op.ov);
    EXPECT_TRUE(op.WaitDone());
    return events;
  }

  std::string ReadAll() {
    Overlapped op;
    char buf[64];
    DWORD n = 0;
    ReadFile(port_, buf, sizeof buf, &n, &op.ov);
    op.WaitDone();
    GetOverlappedResult(port_, &op.ov, &n, FALSE);
    return std::string(buf, n);
  }

  std::shared_ptr<VirtualPort> far_;
  HANDLE port_ = INVALID_HANDLE_VALUE;
};

TEST_F(VirtualLineTest, ModemLineChangesAreEventsAndStatus) {
  Arm(EV_CTS | EV_DSR);
  far_->SetCTS(true);
  EXPECT_EQ(Wait(), DWORD{EV_CTS});
  Arm(EV_CTS | EV_DSR | EV_RLSD);
  far_->SetDCD(true);
  far_->SetDSR(true);
  DWORD seen = 0;
  while (seen != (EV_DSR | EV_RLSD)) seen |= Wait();
  Arm(EV_RING);
  far_->SetRing(true);
  EXPECT_EQ(Wait(), DWORD{EV_RING});
  DWORD status = 0;
  ASSERT_TRUE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON | MS_RLSD_ON | MS_RING_ON);
}

TEST_F(VirtualLineTest, NullsDiscardedAndTheEventCharacterFlagged) {
  Apply([](DCB& d) {
    d.fNull = 1;
    d.EvtChar = '\n';
  });
  Arm(EV_RXCHAR | EV_RXFLAG);
  far_->Send(std::string("a\0b\n", 4));
  EXPECT_EQ(Wait(), DWORD{EV_RXCHAR | EV_RXFLAG});
  EXPECT_EQ(ReadAll(), "ab\n");
}

TEST_F(VirtualLineTest, DsrSensitivityIgnoresBytesWhileDsrIsOff) {
  Apply([](DCB& d) { d.fDsrSensitivity = 1; });
  far_->Send("lost");
  ASSERT_TRUE(far_->WaitUntilDelivered(5s));
  Arm(EV_DSR);
  far_->SetDSR(true);
  Wait();
  Arm(EV_RXCHAR);
  far_->Send("kept");
  Wait();
  EXPECT_EQ(ReadAll(), "kept");
}

TEST_F(VirtualLineTest, OutputWaitsForCtsAndForXon) {
  Apply([](DCB& d) {
    d.fOutxCtsFlow = 1;
    d.fOutX = 1;
  });
  Overlapped op;
  DWORD n = 0;
  EXPECT_FALSE(WriteFile(port_, "held", 4, &n, &op.ov));
  EXPECT_FALSE(op.WaitDone(30ms));
  far_->SetCTS(true);
  ASSERT_TRUE(op.WaitDone());
  EXPECT_EQ(far_->Take(), "held");

  far_->Send("\x13");
  Overlapped second;
  EXPECT_FALSE(WriteFile(port_, "x", 1, &n, &second.ov));
  EXPECT_FALSE(second.WaitDone(30ms));
  far_->Send("\x11");
  ASSERT_TRUE(second.WaitDone());
  EXPECT_EQ(far_->Take(), "x");
}

TEST_F(VirtualLineTest, RtsToggleRaisesRtsOnlyWhileOutputWaits) {
  Apply([](DCB& d) {
    d.fRtsControl = RTS_CONTROL_TOGGLE;
    d.fOutxCtsFlow = 1;
    d.fDtrControl = DTR_CONTROL_ENABLE;
  });
  EXPECT_FALSE(far_->Rts());
  EXPECT_TRUE(far_->Dtr());
  Arm(EV_TXEMPTY);
  Overlapped op;
  DWORD n = 0;
  WriteFile(port_, "abc", 3, &n, &op.ov);
  EXPECT_TRUE(far_->Rts());
  far_->SetCTS(true);
  ASSERT_TRUE(op.WaitDone());
  Wait();
  EXPECT_FALSE(far_->Rts());
}

TEST_F(VirtualLineTest, InjectedFailuresAndTheCallLog) {
  far_->ClearCalls();
  far_->FailNext("SetCommState", 31);
  DCB dcb = PlainDcb(9600);
  EXPECT_FALSE(SetCommState(port_, &dcb));
  EXPECT_EQ(GetLastError(), 31u);
  EXPECT_TRUE(SetCommState(port_, &dcb));
  far_->FailNext("GetCommModemStatus", 22);
  DWORD status = 0;
  EXPECT_FALSE(GetCommModemStatus(port_, &status));
  EXPECT_EQ(GetLastError(), 22u);
  const std::vector<std::string> expected = {"SetCommState", "SetCommState", "GetCommModemStatus"};
  EXPECT_EQ(far_->Calls(), expected);
}

TEST_F(VirtualLineTest, ABigQueueKeepsItsBytesWhenResized) {
  Arm(EV_RXCHAR);
  far_->Send("keep me");
  Wait();
  ASSERT_TRUE(SetupComm(port_, 8192, 8192));
  EXPECT_EQ(ReadAll(), "keep me");
  EXPECT_FALSE(SetupComm(port_, 0xFFFFFFFD, 1024));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace platform::testing
