#include "app/adapter_watch.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>

#include "../cportsetup/fake_sysfs.h"
#include "../temp_folder.h"
#include "cportsetup/serial_ports.h"

namespace console {
namespace {

using testing_support::TempFolder;

bool ServeUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  return true;
}

// An adapter without a serial number (a CH340) is known by the USB port it is plugged
// into: another one of the same kind on the same name is not taken, and the lost node
// itself, still there when the watch starts looking, is not taken for its return.
TEST(AdapterWatch, AnotherAdapterOnTheSameNameIsNotTaken) {
  cport::testing::FakeSysfs sysfs;
  cport::SetSerialPortSource(sysfs.Root());
  sysfs.AddUsbSerial("ttyUSB0", "", "1-1", "7523");
  TempFolder dev, elsewhere;
  const std::string node = dev.File("ttyUSB0");
  TempFolder::Write(node, "");
  AdapterWatch watch;
  int returned = 0;
  QObject::connect(&watch, &AdapterWatch::Returned, [&] { ++returned; });
  watch.Remember(node);
  watch.Arm();
  ASSERT_TRUE(ServeUntil([&] { return watch.Checks() == 1; })) << "it looks at once";
  EXPECT_EQ(returned, 0);

  for (const char* usbPort : {"1-2", "1-1"}) {
    sysfs.AddUsbSerial("ttyUSB0", "", usbPort, "7523");
    TempFolder::Write(elsewhere.File("new"), "");
    std::filesystem::rename(elsewhere.File("new"), node);  // a node made anew, as on a plug-in
    const int checks = watch.Checks();
    ASSERT_TRUE(ServeUntil([&] { return watch.Checks() > checks; })) << usbPort;
    EXPECT_EQ(returned, std::string(usbPort) == "1-1" ? 1 : 0) << "plugged into " << usbPort;
  }
  cport::SetSerialPortSource("/sys/class/tty");
}

}  // namespace
}  // namespace console
