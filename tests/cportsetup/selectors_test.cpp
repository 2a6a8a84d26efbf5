#include <gtest/gtest.h>

#include <QApplication>

#include "cport/errors.h"
#include "cportsetup/adapter_identity.h"
#include "cportsetup/com_combobox.h"
#include "cportsetup/serial_ports.h"
#include "fake_sysfs.h"
#include "platform/comm/virtual_line.h"

namespace cport::testing {
namespace {

using Strings = std::vector<std::string>;

class PortList : public ::testing::Test {
 protected:
  void SetUp() override { SetSerialPortSource(sysfs_.Root()); }
  void TearDown() override { SetSerialPortSource("/sys/class/tty"); }
  FakeSysfs sysfs_;
};

TEST_F(PortList, ListsSerialDriversSortedWithoutPlaceholders) {
  sysfs_.AddSerial("ttyS0", 4);
  sysfs_.AddSerial("ttyS1", 0);  // no UART behind it
  sysfs_.AddSerial("ttyS9", 4);
  sysfs_.AddSerial("ttyS2", 4);
  sysfs_.AddSerial("ttyUSB0");
  sysfs_.AddSerial("ttyACM1");
  sysfs_.AddVirtual("tty3");
  sysfs_.AddVirtual("ptmx");
  Strings list = {"stale"};
  ListSerialPorts(list);
  EXPECT_EQ(list, (Strings{"COM1", "COM10", "COM3", "ttyACM1", "ttyUSB0"}));
}

TEST_F(PortList, AnEmptySourceIsAnEmptyListAndAMissingOneAnError) {
  Strings list = {"stale"};
  ListSerialPorts(list);
  EXPECT_TRUE(list.empty());
  SetSerialPortSource(sysfs_.Root() + "/missing");
  list = {"kept"};
  try {
    ListSerialPorts(list);
    FAIL();
  } catch (const EComPort& e) {
    EXPECT_STREQ(e.what(), "Registry error (win error code: 2)");
  }
  EXPECT_EQ(list, Strings{"kept"});
}

TEST_F(PortList, EachPortTellsWhatSysfsKnowsOfIt) {
  SetSerialPortSource(sysfs_.Root(), sysfs_.ById());
  sysfs_.AddSerial("ttyS0", 4);
  sysfs_.AddUsbSerial("ttyUSB0", "A50285BI");
  EXPECT_EQ(DescribeSerialPort("COM1"), "Driver: serial");
  EXPECT_EQ(DescribeSerialPort("ttyUSB0"),
            "Driver: ftdi_sio\nUSB: 0403:6001\nMaker: FTDI\nProduct: FT232R USB UART\n"
            "Serial number: A50285BI\nStable name: " +
                sysfs_.ById() + "/usb-FTDI_A50285BI-if00-port0");
  EXPECT_EQ(DescribeSerialPort("ttyUSB9"), "");

  TComComboBox combo;
  combo.SetComProperty(cpPort);
  ASSERT_EQ(combo.count(), 2);
  EXPECT_EQ(combo.itemText(1), "ttyUSB0");
  EXPECT_EQ(combo.itemData(1, Qt::ToolTipRole).toString().toStdString(),
            DescribeSerialPort("ttyUSB0"));
}

// By serial number where there is one, else by vendor, product and USB port; a device
// with no USB side by its name. A node is back when it is not the one that was lost.
TEST_F(PortList, AdaptersAreKnownBySerialOrByWhereTheyArePlugged) {
  sysfs_.AddUsbSerial("ttyUSB0", "A50285BI", "1-2.3");
  sysfs_.AddUsbSerial("ttyUSB1", "", "1-4");
  const AdapterIdentity ftdi = IdentifyAdapter("ttyUSB0");
  EXPECT_EQ(ftdi.vendor + ":" + ftdi.product + ":" + ftdi.serial + ":" + ftdi.usbPort,
            "0403:6001:A50285BI:1-2.3");
  EXPECT_EQ(IdentifyAdapter("ttyUSB1").serial, "");
  EXPECT_EQ(IdentifyAdapter("ttyUSB1").usbPort, "1-4");

  const AdapterIdentity serial{"0403", "6001", "A1", "1-1", "node"};
  const AdapterIdentity noSerial{"1a86", "7523", "", "1-1", "node"};
  const AdapterIdentity pty{"", "", "", "", "node"};
  struct Case {
    const char* what;
    AdapterIdentity remembered, now;
    bool same;
  };
  auto with = [](AdapterIdentity id, auto change) {
    change(id);
    return id;
  };
  const Case cases[] = {
      {"same serial, other port", serial, with(serial, [](auto& i) { i.usbPort = "2-1"; }), true},
      {"other serial", serial, with(serial, [](auto& i) { i.serial = "A2"; }), false},
      {"other product", serial, with(serial, [](auto& i) { i.product = "6015"; }), false},
      {"no serial, same port", noSerial, noSerial, true},
      {"no serial, other port", noSerial, with(noSerial, [](auto& i) { i.usbPort = "1-2"; }),
       false},
      {"no serial, now one", noSerial, with(noSerial, [](auto& i) { i.serial = "X"; }), false},
      {"no USB side", pty, noSerial, true},
      {"USB, now none", noSerial, pty, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSameAdapter(c.remembered, c.now), c.same) << c.what;
    EXPECT_EQ(HasComeBack(c.remembered, with(c.now, [](auto& i) { i.node = "new"; })), c.same)
        << c.what;
    EXPECT_FALSE(HasComeBack(c.remembered, c.now)) << c.what << ": the lost node itself";
    EXPECT_FALSE(HasComeBack(c.remembered, with(c.now, [](auto& i) { i.node = ""; }))) << c.what;
  }
}

TEST(ComSelect, EnumeratedListsAndTheirConversions) {
  Strings items;
  TComSelect select;
  select.Items = &items;
  select.LoadItems(cpBaudRate);
  ASSERT_EQ(items.size(), 16u);
  EXPECT_EQ(items.front(), "Custom");
  select.LoadItems(cpFlowControl);
  EXPECT_EQ(items, (Strings{"Hardware", "Software", "None", "Custom"}));
  select.TakeText("Software");
  EXPECT_EQ(select.ChosenFlowControl, fcSoftware);
  select.TakeText("bogus");
  EXPECT_EQ(select.ChosenFlowControl, fcCustom);
  select.LoadItems(cpNone);
  EXPECT_TRUE(items.empty());
  EXPECT_EQ(select.LoadFromPort(), -1);
  select.ApplyToPort();  // no port: nothing
}

class BoundSelectors : public PortList {
 protected:
  void SetUp() override {
    PortList::SetUp();
    sysfs_.AddSerial("ttyS0", 4);
    port_.SetPort("com1");
  }
  TComPort port_;
};

TEST_F(BoundSelectors, ShowThePortsValuesAndTakeTheListsSpelling) {
  TComComboBox portCombo, flowCombo;
  portCombo.SetComProperty(cpPort);
  EXPECT_EQ(portCombo.currentIndex(), 0) << "unbound: the first item";
  portCombo.SetComPort(&port_);
  EXPECT_EQ(portCombo.Text(), "COM1");
  EXPECT_EQ(portCombo.Selector().ChosenPort, "COM1");
  portCombo.ApplyToPort();
  EXPECT_EQ(port_.Port(), "COM1");

  port_.FlowControl().SetControlRTS(rtsToggle);
  flowCombo.SetComProperty(cpFlowControl);
  flowCombo.SetComPort(&port_);
  EXPECT_EQ(flowCombo.Text(), "Custom");
  flowCombo.ApplyToPort();
  EXPECT_EQ(port_.FlowControl().ControlRTS(), rtsToggle);
}

TEST_F(BoundSelectors, AnUnlistedPortShowsNoSelection) {
  port_.SetPort("/dev/pts/7");
  TComComboBox combo;
  combo.SetComProperty(cpPort);
  combo.SetComPort(&port_);
  EXPECT_EQ(combo.currentIndex(), -1);
  EXPECT_EQ(combo.Text(), "");
  combo.SetText("com1");
  EXPECT_EQ(combo.Text(), "COM1");
}

TEST_F(BoundSelectors, OperatorPicksApplyOnlyWithAutoApply) {
  TComComboBox combo;
  combo.SetComProperty(cpBaudRate);
  combo.SetComPort(&port_);
  EXPECT_EQ(combo.Text(), "9600");
  int changes = 0;
  QObject::connect(&combo, &TComComboBox::Changed, [&] { ++changes; });
  combo.setCurrentIndex(13);
  EXPECT_EQ(changes, 0) << "selections by code are not picks";
  emit combo.activated(13);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(port_.BaudRate(), br9600);
  combo.SetAutoApply(true);
  combo.setCurrentIndex(0);
  emit combo.activated(0);
  EXPECT_EQ(port_.BaudRate(), brCustom);
}

TEST_F(BoundSelectors, ADestroyedPortUnbindsTheControl) {
  auto port = std::make_unique<TComPort>();
  TComComboBox combo;
  combo.SetComProperty(cpParity);
  port->Parity().SetBits(prSpace);
  combo.SetComPort(port.get());
  EXPECT_EQ(combo.currentIndex(), 4);
  port.reset();
  EXPECT_EQ(combo.ComPort(), nullptr);
  EXPECT_EQ(combo.currentIndex(), 0);
  EXPECT_EQ(combo.Selector().ChosenParity, prSpace);
}

}  // namespace
}  // namespace cport::testing
