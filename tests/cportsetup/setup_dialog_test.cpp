#include "cportsetup/setup_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "cport/errors.h"
#include "cportsetup/serial_ports.h"
#include "fake_sysfs.h"
#include "platform/comm/virtual_line.h"

namespace cport::testing {
namespace {

// Does what an operator does once the modal dialog is up.
void WhenDialogShows(std::function<void(TComSetupFrm&)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog = qobject_cast<TComSetupFrm*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    act(*dialog);
  });
}

void Pick(TComComboBox* combo, const QString& text) {
  const int index = combo->findText(text);
  ASSERT_GE(index, 0) << text.toStdString();
  combo->setCurrentIndex(index);
  emit combo->activated(index);
}

class SetupDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    SetSerialPortSource(sysfs_.Root());
    sysfs_.AddSerial("ttyS0", 4);
    sysfs_.AddSerial("ttyS4", 4);
    far1_ = platform::InstallVirtualPort("COM1");
    far5_ = platform::InstallVirtualPort("COM5");
    port_.SetPort("COM1");
    port_.FlowControl().SetControlRTS(rtsToggle);
  }
  void TearDown() override {
    SetSerialPortSource("/sys/class/tty");
    port_.ClosePort();
    platform::RemoveVirtualPort("COM1");
    platform::RemoveVirtualPort("COM5");
  }

  FakeSysfs sysfs_;
  std::shared_ptr<platform::VirtualPort> far1_, far5_;
  TComPort port_;
};

TEST_F(SetupDialog, IsLaidOutAsDesigned) {
  TComSetupFrm dialog;
  EXPECT_EQ(dialog.windowTitle(), "Setup");
  EXPECT_EQ(dialog.size(), QSize(231, 216));
  EXPECT_TRUE(dialog.OkButton()->isDefault());
  EXPECT_FALSE(dialog.CancelButton()->isDefault());
  const auto combos = dialog.Combos();
  EXPECT_EQ(combos[0]->Text(), "COM1");
  EXPECT_EQ(combos[1]->Text(), "Custom");
  EXPECT_EQ(combos[2]->Text(), "5");
  EXPECT_EQ(combos[5]->Text(), "Hardware");
  EXPECT_EQ(combos[0]->geometry(), QRect(80, 16, 129, 21));
}

TEST_F(SetupDialog, OkAppliesTheChoicesInOneBatch) {
  port_.OpenPort();
  far1_->ClearCalls();
  WhenDialogShows([](TComSetupFrm& d) {
    EXPECT_EQ(d.Combos()[0]->Text(), "COM1");
    EXPECT_EQ(d.Combos()[5]->Text(), "Custom");
    Pick(d.Combos()[1], "19200");
    Pick(d.Combos()[4], "Even");
    QTest::keyClick(&d, Qt::Key_Return);
  });
  port_.RunSetupDialog();
  EXPECT_EQ(port_.BaudRate(), br19200);
  EXPECT_EQ(port_.Parity().Bits(), prEven);
  EXPECT_EQ(port_.FlowControl().ControlRTS(), rtsToggle);
  std::vector<std::string> calls = far1_->Calls();
  calls.erase(std::remove(calls.begin(), calls.end(), "WaitCommEvent"), calls.end());
  EXPECT_EQ(calls, (std::vector<std::string>{"SetupComm", "SetCommState", "SetCommTimeouts"}));
}

TEST_F(SetupDialog, CancelTheCloseBoxAndEscapeChangeNothing) {
  WhenDialogShows([](TComSetupFrm& d) {
    Pick(d.Combos()[1], "110");
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_TRUE(d.isVisible()) << "Escape does not close the dialog";
    d.CancelButton()->click();
  });
  EditPortSettings(port_);
  EXPECT_EQ(port_.BaudRate(), br9600);
  WhenDialogShows([](TComSetupFrm& d) {
    Pick(d.Combos()[1], "110");
    d.close();
  });
  EditPortSettings(port_);
  EXPECT_EQ(port_.BaudRate(), br9600);
}

TEST_F(SetupDialog, AnUnlistedPortKeepsItsNameUnlessAnotherIsPicked) {
  port_.SetPort("/dev/pts/42");
  WhenDialogShows([](TComSetupFrm& d) {
    EXPECT_EQ(d.Combos()[0]->currentIndex(), -1);
    d.OkButton()->click();
  });
  EditPortSettings(port_);
  EXPECT_EQ(port_.Port(), "/dev/pts/42");
  WhenDialogShows([](TComSetupFrm& d) {
    Pick(d.Combos()[0], "COM5");
    d.OkButton()->click();
  });
  EditPortSettings(port_);
  EXPECT_EQ(port_.Port(), "COM5");
}

TEST_F(SetupDialog, AnUnreadablePortListStopsTheDialog) {
  SetSerialPortSource(sysfs_.Root() + "/missing");
  try {
    EditPortSettings(port_);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Error reading Combo1.ComProperty: Registry error (win error code: 2)");
  }
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace cport::testing
