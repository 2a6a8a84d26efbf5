#include "../scratch_registry.h"
#include "cport/settings_codecs.h"
#include "port_fixture.h"

namespace cport::testing {
namespace {

using testing_support::TempFolder;

class SettingsStorage : public PortOnVirtualLine {
 protected:
  void SetUp() override {
    PortOnVirtualLine::SetUp();
    port_->SetName("ComPort1");
    ini_ = folder_.File("Main.Ini");
  }

  testing_support::ScratchRegistry registry_{"Software\\Test", "Soft", "Empty"};
  const TempFolder& folder_ = registry_.Folder();
  std::string ini_;
};

TEST_F(SettingsStorage, TheBasicGroupIsWrittenInTableOrder) {
  port_->FlowControl().SetControlRTS(rtsToggle);
  port_->SaveSettings(ssIniFile, ini_);
  EXPECT_EQ(TempFolder::Read(ini_),
            "[ComPort1]\nPort=VPORT\nBaudRate=9600\nStopBits=1\nDataBits=8\nParity=None\n"
            "FlowControl=Custom\n");
}

TEST_F(SettingsStorage, EveryGroupRoundTripsThroughAFile) {
  port_->SetStoredGroups(TSettingsGroups::Full());
  port_->SetBaudRate(brCustom);
  port_->SetCustomBaudRate(250000);
  port_->SetStopBits(sbTwoStopBits);
  port_->SetDataBits(dbSeven);
  port_->Parity().SetBits(prMark);
  port_->Parity().SetCheck(true);
  port_->Parity().SetReplaceChar(' ');
  port_->SetEventChar('\n');
  port_->SetDiscardNull(true);
  port_->Buffer().SetInputSize(4096);
  port_->Timeouts().SetReadTotalConstant(77);
  port_->FlowControl().SetFlowControl(fcHardware);
  port_->FlowControl().SetControlDTR(dtrHandshake);
  port_->FlowControl().SetXonChar('A');
  port_->SaveSettings(ssIniFile, ini_);
  const std::string text = TempFolder::Read(ini_);
  EXPECT_NE(text.find("BaudRate=Custom\nCustomBaudRate=250000\n"), std::string::npos);
  EXPECT_NE(text.find("EventChar=#10\nDiscardNull=Yes\n"), std::string::npos);
  EXPECT_NE(text.find("Parity.ReplaceChar=#32\n"), std::string::npos);

  TComPort copy;
  copy.SetName("ComPort1");
  copy.SetStoredGroups(TSettingsGroups::Full());
  copy.RestoreSettings(ssIniFile, ini_);
  EXPECT_EQ(copy.BaudRate(), brCustom);
  EXPECT_EQ(copy.CustomBaudRate(), 250000);
  EXPECT_EQ(BuildDcb(copy).BaudRate, BuildDcb(*port_).BaudRate);
  EXPECT_EQ(DcbFlagWord(BuildDcb(copy)), DcbFlagWord(BuildDcb(*port_)));
  EXPECT_EQ(copy.Parity().ReplaceChar(), ' ');
  EXPECT_EQ(copy.Buffer().InputSize(), 4096);
  EXPECT_EQ(copy.Timeouts().ReadTotalConstant(), 77);
  EXPECT_EQ(copy.FlowControl().XonChar(), 'A');
  EXPECT_EQ(copy.Port(), "VPORT");
}

TEST_F(SettingsStorage, MissingKeysLeaveSettingsAndEmptyValuesTakeFallbacks) {
  port_->SetBaudRate(br1200);
  port_->SetCustomBaudRate(1234);
  TempFolder::Write(ini_, "[ComPort1]\nDataBits=\nBuffer.InputSize=\n");
  port_->SetStoredGroups({sgBasic, sgBuffer});
  port_->RestoreSettings(ssIniFile, ini_);
  EXPECT_EQ(port_->BaudRate(), br1200);
  EXPECT_EQ(port_->Port(), "VPORT");
  EXPECT_EQ(port_->DataBits(), dbEight);
  EXPECT_EQ(port_->Buffer().InputSize(), 1024);

  TempFolder::Write(ini_, "[ComPort1]\nBaudRate=custom\nFlowControl=fcCustom\n");
  port_->FlowControl().SetControlRTS(rtsToggle);
  port_->RestoreSettings(ssIniFile, ini_);
  EXPECT_EQ(port_->CustomBaudRate(), 9600) << "a missing custom rate is 9600";
  EXPECT_EQ(port_->FlowControl().ControlRTS(), rtsToggle);
}

#ifndef _WIN32  // these open the port on the virtual line
TEST_F(SettingsStorage, ARestoreReconfiguresAnOpenPortOnce) {
  port_->OpenPort();
  far_->ClearCalls();
  TempFolder::Write(ini_, "[ComPort1]\nBaudRate=19200\nParity=Even\nStopBits=2\n");
  port_->RestoreSettings(ssIniFile, ini_);
  EXPECT_EQ(Calls(), (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
  EXPECT_EQ(far_->LastDcb().BaudRate, 19200u);
  EXPECT_EQ(far_->LastDcb().Parity, EVENPARITY);
}

TEST_F(SettingsStorage, AFailingSetterEndsTheRestoreAndClosesTheBatch) {
  port_->OpenPort();
  TempFolder::Write(ini_, "[ComPort1]\nPort=comtest-missing\nBaudRate=1200\n");
  try {
    port_->RestoreSettings(ssIniFile, ini_);
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "Failed to load settings");
    EXPECT_EQ(e.SystemErrorCode(), -1);
  }
  EXPECT_EQ(port_->Port(), "comtest-missing");
  EXPECT_FALSE(port_->Connected());
  port_->SetPort(kName);
  far_->ClearCalls();
  port_->OpenPort();
  EXPECT_EQ(Calls()[1], "SetupComm") << "no batch was left open";
}
#endif

TEST_F(SettingsStorage, TheRegistryStoreAndItsPaths) {
  port_->SetBaudRate(br57600);
  port_->SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\Test");
  platform::RegistryStore reg(platform::RegistryRoot::LocalMachine);
  ASSERT_TRUE(reg.OpenKey("Software\\Test\\ComPort1", false));
  EXPECT_EQ(reg.ReadString("BaudRate"), "57600");

  port_->SaveSettings(ssRegistry, "Elsewhere\\Soft\\");
  platform::RegistryStore user;
  EXPECT_TRUE(user.OpenKey("Soft\\ComPort1", false)) << "other roots mean the current user";

  EXPECT_THROW(port_->SaveSettings(ssRegistry, "HKEY_CURRENT_USER"), EComPort);
  EXPECT_THROW(port_->SaveSettings(ssRegistry, "HKEY_CURRENT_USER\\"), EComPort);
  EXPECT_THROW(port_->RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\"), EComPort);
  // Without a key every text reads as empty: the basic group falls back.
  port_->RestoreSettings(ssRegistry, "HKEY_CURRENT_USER");
  EXPECT_EQ(port_->Port(), "");

  TComPort fresh;
  fresh.SetName("ComPort1");
  fresh.SetBaudRate(br1200);
  fresh.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\Test");
  EXPECT_EQ(fresh.BaudRate(), br57600);

  platform::RegistryStore empty;
  empty.OpenKey("Empty\\ComPort1", true);
  fresh.RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\Empty");
  EXPECT_EQ(fresh.Port(), "");
  EXPECT_EQ(fresh.BaudRate(), br9600);
  EXPECT_EQ(fresh.FlowControl().FlowControl(), fcNone) << "fcCustom leaves the fields";
}

TEST_F(SettingsStorage, AnUnwritableFileFailsTheSave) {
  try {
    port_->SaveSettings(ssIniFile, folder_.File("missing/Main.Ini"));
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorNumber(), peStoreSettings);
  }
}

TEST(SettingsCodecs, FlagsAndCharacters) {
  EXPECT_EQ(FlagToText(true), "Yes");
  EXPECT_EQ(FlagToText(false), "No");
  for (const char* yes : {"Yes", "YES", "yes"}) EXPECT_TRUE(FlagFromText(yes));
  for (const char* no : {"True", "1", "Y", "", "Yes "}) EXPECT_FALSE(FlagFromText(no));

  EXPECT_EQ(CharToText(17), "#17");
  EXPECT_EQ(CharToText(19), "#19");
  EXPECT_EQ(CharToText(0), "#0");
  EXPECT_EQ(CharToText('A'), "A");
  EXPECT_EQ(CharToText(' '), "#32");
  EXPECT_EQ(CharToText(127), "\x7F");
  EXPECT_EQ(CharToText(static_cast<char>(255)), "#255");
  EXPECT_EQ(CharFromText("#17"), 17);
  EXPECT_EQ(CharFromText("#"), '#');
  EXPECT_EQ(CharFromText("ABC"), 'A');
  EXPECT_EQ(CharFromText("#300"), 44);
  EXPECT_EQ(CharFromText("#-1"), static_cast<char>(255));
  EXPECT_EQ(CharFromText("#x"), 0);
  EXPECT_EQ(CharFromText(""), 0);
  EXPECT_EQ(CharFromText("#0x41"), 'A');
}

}  // namespace
}  // namespace cport::testing
