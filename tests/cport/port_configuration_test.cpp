// The port object: defaults, setters, batches, and which platform calls a change makes.
#include "port_fixture.h"

namespace cport::testing {
namespace {

using Strings = std::vector<std::string>;

TEST(PortDefaults, AreThoseOfANewPort) {
  TComPort port;
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.DataBits(), dbEight);
  EXPECT_EQ(port.Parity().Bits(), prNone);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);
  EXPECT_EQ(port.FlowControl().XonChar(), 17);
  EXPECT_EQ(port.FlowControl().XoffChar(), 19);
  EXPECT_EQ(port.Events(), TComEvents::Full());
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_EQ(port.StoredGroups(), TSettingsGroups{sgBasic});
  EXPECT_TRUE(port.FireRxChar());
  EXPECT_EQ(port.DeviceHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  EXPECT_EQ(port.Buffer().OutputSize(), 1024);
  const TComTimeouts& t = port.Timeouts();
  EXPECT_EQ(t.ReadInterval(), -1);
  EXPECT_EQ(t.ReadTotalMultiplier(), 0);
  EXPECT_EQ(t.ReadTotalConstant(), 0);
  EXPECT_EQ(t.WriteTotalMultiplier(), 100);
  EXPECT_EQ(t.WriteTotalConstant(), 1000);
}

TEST(SubObjects, BufferSizesAndFlowPresets) {
  TComPort port;
  port.Buffer().SetInputSize(1025);
  EXPECT_EQ(port.Buffer().InputSize(), 1024);
  port.Buffer().SetInputSize(1);
  EXPECT_EQ(port.Buffer().InputSize(), 0);
  port.Buffer().SetInputSize(-3);
  EXPECT_EQ(port.Buffer().InputSize(), -3);

  port.FlowControl().SetControlRTS(rtsToggle);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcCustom);
  port.FlowControl().SetFlowControl(fcHardware);
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
  EXPECT_TRUE(port.FlowControl().OutCTSFlow());
  port.FlowControl().SetFlowControl(fcCustom);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);

  EXPECT_THROW(port.Parity().Assign(nullptr), std::invalid_argument);
  TComTimeouts free;
  free.SetReadInterval(5);
  port.SetTimeouts(free);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 5);
  free.SetReadInterval(7);
  EXPECT_EQ(port.Timeouts().ReadInterval(), 5) << "the port keeps its own object";
}

TEST(LineControlBlock, TheConsolesPort) {
  TComPort port;
  port.FlowControl().SetControlDTR(dtrEnable);
  port.FlowControl().SetControlRTS(rtsToggle);
  const DCB dcb = BuildDcb(port);
  EXPECT_EQ(dcb.DCBlength, 28u);
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(DcbFlagWord(dcb), 0x3011u);
  EXPECT_EQ(dcb.XonLim, 256);
  EXPECT_EQ(dcb.XoffLim, 256);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, 0);
  EXPECT_EQ(dcb.StopBits, 0);
  EXPECT_EQ(dcb.XonChar, 17);
  EXPECT_EQ(dcb.XoffChar, 19);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.EvtChar, 0);
}

TEST(LineControlBlock, FieldsFollowTheSettings) {
  TComPort port;
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  DCB dcb = BuildDcb(port);
  EXPECT_EQ(dcb.BaudRate, 250000u);
  EXPECT_EQ(dcb.fParity, 0u);
  EXPECT_EQ(dcb.fErrorChar, 0u);
  EXPECT_EQ(dcb.ErrorChar, 0);

  port.Parity().SetCheck(true);
  port.Parity().SetBits(prMark);
  port.SetDiscardNull(true);
  port.SetEventChar('\n');
  port.SetStopBits(sbTwoStopBits);
  port.SetDataBits(dbSeven);
  port.FlowControl().SetFlowControl(fcSoftware);
  port.FlowControl().SetOutDSRFlow(true);
  port.FlowControl().SetDSRSensitivity(true);
  port.FlowControl().SetTxContinueOnXoff(true);
  port.FlowControl().SetControlDTR(dtrHandshake);
  dcb = BuildDcb(port);
  EXPECT_EQ(DcbFlagWord(dcb), 0x0001u | 0x0002u | 0x0008u | 0x0020u | 0x0040u | 0x0080u | 0x0100u |
                                  0x0200u | 0x0400u | 0x0800u);
  EXPECT_EQ(dcb.ErrorChar, '?');
  EXPECT_EQ(dcb.Parity, 3);
  EXPECT_EQ(dcb.StopBits, 2);
  EXPECT_EQ(dcb.ByteSize, 7);
  EXPECT_EQ(dcb.EvtChar, '\n');

  for (auto [size, limit] : {std::pair{10, 2}, {300000, 9464}}) {
    port.Buffer().SetInputSize(size);
    EXPECT_EQ(BuildDcb(port).XonLim, limit);
  }
}

TEST(LineControlBlock, TimeoutsPassBitForBit) {
  TComTimeouts t;
  t.SetReadTotalConstant(-2);
  const COMMTIMEOUTS c = BuildTimeouts(t);
  EXPECT_EQ(c.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(c.ReadTotalTimeoutConstant, 0xFFFFFFFEu);
  EXPECT_EQ(c.WriteTotalTimeoutMultiplier, 100u);
  EXPECT_EQ(c.WriteTotalTimeoutConstant, 1000u);
}

TEST_F(PortOnVirtualLine, OpeningAppliesQueuesLineAndTimeoutsInOrder) {
  port_->SetEvents({});
  port_->OpenPort();
  EXPECT_EQ(Calls(), (Strings{"CreateFileA", "SetupComm", "SetCommState", "SetCommTimeouts",
                              "GetCommModemStatus", "GetCommModemStatus", "GetCommModemStatus"}));
  EXPECT_EQ(DcbFlagWord(far_->LastDcb()), 0x0001u);
}

TEST_F(PortOnVirtualLine, EachChangeOnAnOpenPortReappliesOnlyItsGroup) {
  port_->OpenPort();
  struct Case {
    std::function<void()> change;
    Strings calls;
  };
  const Case cases[] = {
      {[&] { port_->Timeouts().SetWriteTotalConstant(100); }, {"SetCommTimeouts"}},
      {[&] { port_->Buffer().SetOutputSize(2048); }, {"SetupComm"}},
      {[&] { port_->SetBaudRate(br19200); }, {"SetCommState"}},
      {[&] { port_->SetBaudRate(br19200); }, {}},
      {[&] { port_->FlowControl().SetFlowControl(fcCustom); }, {"SetCommState"}},
      {[&] { port_->Parity().SetBits(prNone); }, {}},
      {[&] { port_->SetParity(port_->Parity()); }, {"SetCommState"}},
      {[&] { port_->SetEvents({evRxChar}); }, {}},
  };
  for (const Case& c : cases) {
    far_->ClearCalls();
    c.change();
    EXPECT_EQ(Calls(), c.calls);
  }
  EXPECT_EQ(far_->LastDcb().BaudRate, 19200u);
}

TEST_F(PortOnVirtualLine, ABatchAppliesEachGroupOnceAtItsEnd) {
  port_->OpenPort();
  far_->ClearCalls();
  port_->BeginSettingsUpdate();
  port_->BeginSettingsUpdate();
  port_->SetBaudRate(br57600);
  port_->Parity().SetBits(prEven);
  port_->Timeouts().SetReadInterval(10);
  port_->EndSettingsUpdate();
  EXPECT_EQ(Calls(), Strings{});
  port_->EndSettingsUpdate();
  EXPECT_EQ(Calls(), (Strings{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  far_->ClearCalls();
  port_->EndSettingsUpdate();
  EXPECT_EQ(Calls(), Strings{});
}

TEST_F(PortOnVirtualLine, ClosedPortsOnlyRecordSettings) {
  port_->SetBaudRate(br115200);
  port_->Buffer().SetInputSize(4096);
  EXPECT_EQ(far_->Calls(), Strings{});
  port_->OpenPort();
  EXPECT_EQ(far_->LastDcb().BaudRate, 115200u);
}

TEST_F(PortOnVirtualLine, OpeningInsideABatchAppliesNothingUntilItsEnd) {
  port_->BeginSettingsUpdate();
  port_->SetEvents({});
  port_->OpenPort();
  EXPECT_EQ(Calls(), (Strings{"CreateFileA", "GetCommModemStatus", "GetCommModemStatus",
                              "GetCommModemStatus"}));
  far_->ClearCalls();
  port_->EndSettingsUpdate();
  EXPECT_EQ(Calls(), (Strings{"SetupComm", "SetCommState", "SetCommTimeouts"}));
}

TEST_F(PortOnVirtualLine, ARejectedSettingAtOpenClosesTheDeviceAgain) {
  for (const char* call : {"SetupComm", "SetCommState", "SetCommTimeouts"}) {
    bool afterOpen = false;
    port_->OnAfterOpen = [&](TObject*) { afterOpen = true; };
    far_->FailNext(call, 31);
    try {
      port_->OpenPort();
      ADD_FAILURE() << call;
    } catch (const EComPort& e) {
      const int expected = std::string(call) == "SetupComm"      ? peSetupComm
                           : std::string(call) == "SetCommState" ? peSetCommState
                                                                 : peSetCommTimeouts;
      EXPECT_EQ(e.ErrorNumber(), expected);
      EXPECT_EQ(e.SystemErrorCode(), 31);
    }
    EXPECT_FALSE(port_->Connected());
    EXPECT_FALSE(far_->IsOpen());
    EXPECT_FALSE(afterOpen);
  }
}

// A driver that lacks an optional feature (Wine's) refuses it with 50; the port still opens.
TEST_F(PortOnVirtualLine, AFeatureTheDriverLacksLeavesThePortUsable) {
  struct Case {
    const char* call;
    TRTSFlowControl rts;
    bool opens, rtsHeldOn;
  };
  for (const Case& c : {Case{"SetupComm", rtsToggle, true, false},
                        Case{"SetCommState", rtsToggle, true, true},
                        Case{"SetCommState", rtsEnable, false, false}}) {
    port_->FlowControl().SetControlRTS(c.rts);
    far_->FailNext(c.call, ERROR_NOT_SUPPORTED);
    try {
      port_->OpenPort();
    } catch (const EComPort& e) {
      EXPECT_EQ(e.SystemErrorCode(), 50);
    }
    EXPECT_EQ(port_->Connected(), c.opens) << c.call << " " << int{c.rts};
    EXPECT_EQ(port_->RtsHeldOn(), c.rtsHeldOn) << c.call << " " << int{c.rts};
    if (c.rtsHeldOn) {
      EXPECT_EQ(far_->LastDcb().fRtsControl, RTS_CONTROL_ENABLE);
    }
    if (port_->Connected()) port_->ClosePort();
  }
}

TEST_F(PortOnVirtualLine, AMissingDeviceFailsWithItsSystemCode) {
  bool beforeOpen = false;
  port_->OnBeforeOpen = [&](TObject*) { beforeOpen = true; };
  port_->SetPort("comtest-no-such-device");
  try {
    port_->OpenPort();
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
  }
  EXPECT_TRUE(beforeOpen);
  EXPECT_FALSE(port_->Connected());
}

TEST_F(PortOnVirtualLine, PortNameChangesReopenOnlyWhenTheTextDiffers) {
  auto other = platform::InstallVirtualPort("vport");
  port_->OpenPort();
  int opens = 0;
  port_->OnAfterOpen = [&](TObject*) { ++opens; };
  port_->SetPort(kName);
  EXPECT_EQ(opens, 0);
  port_->SetPort("vport");
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(other->IsOpen());
  EXPECT_FALSE(far_->IsOpen());
  port_->ClosePort();
  platform::RemoveVirtualPort("vport");
}

TEST_F(PortOnVirtualLine, SyncMethodIsRefusedWhileOpen) {
  port_->OpenPort();
  EXPECT_NO_THROW(port_->SetSyncMethod(smThreadSync));
  try {
    port_->SetSyncMethod(smNone);
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), peSetWhileConnected);
    EXPECT_EQ(e.SystemErrorCode(), -1);
  }
  EXPECT_EQ(port_->SyncMethod(), smThreadSync);
  port_->ClosePort();
  port_->SetSyncMethod(smWindowSync);
  EXPECT_EQ(port_->SyncMethod(), smWindowSync);
}

TEST_F(PortOnVirtualLine, OpenAndCloseFireHooksAndSignalReportsInOrder) {
  far_->SetCTS(true);
  Strings seen;
  port_->OnBeforeOpen = [&](TObject*) { seen.push_back("BeforeOpen"); };
  port_->OnAfterOpen = [&](TObject*) { seen.push_back("AfterOpen"); };
  port_->OnBeforeClose = [&](TObject*) { seen.push_back("BeforeClose"); };
  port_->OnAfterClose = [&](TObject*) { seen.push_back("AfterClose"); };
  port_->OnCTSChange = [&](TObject*, bool on) { seen.push_back(on ? "CTS on" : "CTS off"); };
  port_->OnDSRChange = [&](TObject*, bool on) { seen.push_back(on ? "DSR on" : "DSR off"); };
  port_->OnRLSDChange = [&](TObject*, bool on) { seen.push_back(on ? "RLSD on" : "RLSD off"); };
  port_->OpenPort();
  port_->OpenPort();
  port_->SetConnected(true);
  EXPECT_EQ(seen, (Strings{"BeforeOpen", "AfterOpen", "CTS on", "DSR off", "RLSD off"}));
  seen.clear();
  port_->SetConnected(false);
  port_->ClosePort();
  EXPECT_EQ(seen, (Strings{"CTS off", "DSR off", "RLSD off", "BeforeClose", "AfterClose"}));
}

TEST_F(PortOnVirtualLine, NoEventsMeansNoThreadButTheHooksStillRun) {
  port_->SetEvents({});
  bool afterOpen = false;
  port_->OnAfterOpen = [&](TObject*) { afterOpen = true; };
  port_->OpenPort();
  EXPECT_TRUE(afterOpen);
  const Strings calls = far_->Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "SetCommMask"), 0);
}

TEST_F(PortOnVirtualLine, AFailedAbortKeepsThePortOpen) {
  port_->OpenPort();
  bool beforeClose = false;
  port_->OnBeforeClose = [&](TObject*) { beforeClose = true; };
  far_->FailNext("PurgeComm", 5);
  try {
    port_->ClosePort();
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "PurgeComm function failed (win error code: 5)");
  }
  EXPECT_TRUE(beforeClose);
  EXPECT_TRUE(port_->Connected());
  port_->ClosePort();
  EXPECT_FALSE(port_->Connected());
}

TEST_F(PortOnVirtualLine, DestroyingAnOpenPortRunsTheWholeClose) {
  bool afterClose = false;
  port_->OnAfterClose = [&](TObject*) { afterClose = true; };
  port_->OpenPort();
  port_.reset();
  EXPECT_TRUE(afterClose);
  EXPECT_FALSE(far_->IsOpen());
}

TEST_F(PortOnVirtualLine, LoadingRecordsConnectedAndAfterLoadOpens) {
  port_->BeginLoading();
  port_->SetConnected(true);
  port_->SetBaudRate(br38400);
  EXPECT_FALSE(far_->IsOpen());
  port_->AfterLoad();
  EXPECT_TRUE(port_->Connected());
  EXPECT_EQ(far_->LastDcb().BaudRate, 38400u);
}

TEST_F(PortOnVirtualLine, StatusQueriesAndTheirErrors) {
  EXPECT_THROW(port_->InputQueueCount(), EComPort);
  try {
    port_->LineSignals();
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), peModemStatus);
    EXPECT_EQ(e.SystemErrorCode(), 6);
  }
  port_->SetEvents({});
  port_->OpenPort();
  far_->SetDSR(true);
  far_->SetRing(true);
  EXPECT_EQ(port_->LineSignals(), (TLineSignals{lsDSR, lsRing}));
  far_->SendWithError('x', CE_RXPARITY | CE_FRAME);
  ASSERT_TRUE(far_->WaitUntilDelivered(5s));
  EXPECT_EQ(port_->FetchLineErrors(), TComErrors{ceFrame});
}

}  // namespace
}  // namespace cport::testing
