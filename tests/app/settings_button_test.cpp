#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "../cportsetup/fake_sysfs.h"
#include "console_fixture.h"
#include "cportsetup/network_ports.h"
#include "cportsetup/serial_ports.h"
#include "cportsetup/setup_dialog.h"

namespace console::testing {
namespace {

class SettingsButton : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    sysfs_.AddSerial("ttyS0", 4);
    sysfs_.AddSerial("ttyS4", 4);
    cport::SetSerialPortSource(sysfs_.Root());
    com5_ = platform::InstallVirtualPort("COM5");
  }
  void TearDown() override {
    ConsoleTest::TearDown();
    cport::SetSerialPortSource("/sys/class/tty");
    platform::RemoveVirtualPort("COM5");
  }

  static void WhenDialogShows(std::function<void(cport::TComSetupFrm&)> act) {
    QTimer::singleShot(0, [act] {
      auto* dialog = qobject_cast<cport::TComSetupFrm*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      act(*dialog);
    });
  }

  cport::testing::FakeSysfs sysfs_;
  std::shared_ptr<platform::VirtualPort> com5_;
};

TEST_F(SettingsButton, AWorkingPortPickedAfterAFailedOpenIsOpenedAndStored) {
  WriteIni("[ComPort1]\nPort=comtest-missing\n");
  Show();
  ASSERT_EQ(window_->PanelText(0), "ERROR");
  WhenDialogShows([](cport::TComSetupFrm& d) {
    auto* combo = d.Combos()[0];
    combo->setCurrentIndex(combo->findText("COM5"));
    emit combo->activated(combo->currentIndex());
    d.OkButton()->click();
  });
  window_->BitBtn1()->click();
  EXPECT_EQ(window_->PanelText(0).toStdString(), "대기중");
  EXPECT_EQ(window_->PanelText(1), "COM5");
  EXPECT_TRUE(com5_->IsOpen());
  EXPECT_NE(TempFolder::Read(IniPath()).find("Port=COM5\n"), std::string::npos);
}

TEST_F(SettingsButton, CancelStillStoresTheSettingsInTheirTextForms) {
  Show();
  ASSERT_TRUE(com1_->IsOpen());
  WhenDialogShows([](cport::TComSetupFrm& d) { d.CancelButton()->click(); });
  window_->BitBtn1()->click();
  EXPECT_EQ(TempFolder::Read(IniPath()),
            "[ComPort1]\nPort=COM1\nBaudRate=9600\nParity=None\nDataBits=8\nStopBits=1\n"
            "FlowControl=Custom\n");
  EXPECT_EQ(window_->PanelText(0).toStdString(), "대기중");
  EXPECT_TRUE(com1_->IsOpen());
}

TEST_F(SettingsButton, AnUnreadablePortListEndsTheSequenceWithThePortClosed) {
  Show();
  cport::SetSerialPortSource(sysfs_.Root() + "/missing");
  window_->BitBtn1()->click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Error reading Combo1.ComProperty: Registry error (win error code: 2)");
  EXPECT_FALSE(com1_->IsOpen());
}

// With its switch on, the port list ends with the network ports used before and an item
// that asks for a new one; the name given is opened, shown as host:port and stored as it
// is. With the switch off the list is the machine's alone, as specified.
TEST_F(SettingsButton, NetworkPortsJoinTheListOnlyWithTheirSwitch) {
  const std::string url = "rfc2217://127.0.0.1:7001";
  const auto served = platform::InstallVirtualPort(url);
  cport::SetNetworkPortAskerHook([&] { return std::optional<std::string>(url); });
  Show();
  struct Round {
    bool switchOn;
    std::vector<std::string> listed;
  };
  const Round rounds[] = {{false, {"COM1", "COM5"}},
                          {true, {"COM1", "COM5", "Network port..."}},
                          {true, {"COM1", "COM5", url, "Network port..."}}};
  for (const Round& round : rounds) {
    std::unique_ptr<QMenu> menu(window_->LogMenu());
    auto* networkPorts = menu->findChild<QAction*>(QStringLiteral("network-ports"));
    if (networkPorts->isChecked() != round.switchOn) networkPorts->trigger();
    std::vector<std::string> listed;
    WhenDialogShows([&](cport::TComSetupFrm& d) {
      auto* combo = d.Combos()[0];
      for (int i = 0; i < combo->count(); ++i) listed.push_back(combo->itemText(i).toStdString());
      if (round.switchOn) {
        combo->setCurrentIndex(combo->count() - 1);
        emit combo->activated(combo->currentIndex());
      }
      d.OkButton()->click();
    });
    window_->BitBtn1()->click();
    EXPECT_EQ(listed, round.listed);
  }
  cport::SetNetworkPortAskerHook(nullptr);
  EXPECT_TRUE(served->IsOpen());
  EXPECT_EQ(window_->PanelText(0).toStdString(), "대기중");
  EXPECT_EQ(window_->PanelText(1), "127.0.0.1:7001");
  EXPECT_EQ(window_->PanelTip(1).toStdString(), url);
  const std::string ini = TempFolder::Read(IniPath());
  EXPECT_NE(ini.find("[ComPort1]\nPort=" + url + "\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("NetworkPortsUsed=" + url + "\n"), std::string::npos) << ini;
  platform::RemoveVirtualPort(url);
}

// A lost network port has no adapter to watch for: it is tried again, a second later and
// then less and less often, and opens once its server is back.
TEST_F(SettingsButton, ALostNetworkPortIsTriedAgainUntilItsServerIsBack) {
  const std::string url = "rfc2217://127.0.0.1:1";  // nothing listens there
  auto served = platform::InstallVirtualPort(url);
  WriteIni("[ComPort1]\nPort=" + url + "\n[Console]\nReconnect=1\n");
  Show();
  ASSERT_EQ(window_->PanelText(0).toStdString(), "대기중");
  served->Vanish();
  ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0) == "ERROR"; }));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].details.rfind("The connection to 127.0.0.1:1 ended", 0), 0u)
      << boxes_[0].details;
  platform::RemoveVirtualPort(url);
  ASSERT_TRUE(ServeUntil([&] { return window_->Retry().Tries() == 1; }));
  EXPECT_EQ(window_->PanelText(0), "ERROR") << "refused";
  served = platform::InstallVirtualPort(url);
  ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0).toStdString() == "대기중"; }));
  EXPECT_EQ(window_->Retry().Tries(), 2) << "one try at a time, none in between";
  EXPECT_TRUE(served->IsOpen());
  EXPECT_EQ(boxes_.size(), 1u);
  platform::RemoveVirtualPort(url);
}

}  // namespace
}  // namespace console::testing
