#include <QPushButton>
#include <QTimer>

#include "../cportsetup/fake_sysfs.h"
#include "console_fixture.h"
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

}  // namespace
}  // namespace console::testing
