#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include "../temp_folder.h"

namespace cport::testing {

// A /sys/class/tty of our own: serial ttys with a driver, placeholders, virtual ttys.
class FakeSysfs {
 public:
  void AddSerial(const std::string& tty, int uartType = -1) {
    const auto entry = folder_.Path() / tty;
    std::filesystem::create_directories(entry / "device");
    std::filesystem::create_directories(folder_.Path() / "drivers" / "serial");
    symlink((folder_.Path() / "drivers" / "serial").c_str(), (entry / "device" / "driver").c_str());
    if (uartType >= 0)
      testing_support::TempFolder::Write((entry / "type").string(),
                                         std::to_string(uartType) + "\n");
  }
  // A USB adapter's tty: sysfs puts it below the interface below the USB device (named
  // after the USB port it is plugged into), and /dev/serial/by-id holds a link to it. An
  // adapter without a serial number has no such attribute.
  void AddUsbSerial(const std::string& tty, const std::string& serial,
                    const std::string& usbPort = "1-1", const std::string& product = "6001") {
    const auto usb = folder_.Path() / "devices" / "usb1" / usbPort;
    const auto port = usb / (usbPort + ":1.0") / tty;
    std::filesystem::create_directories(port);
    std::filesystem::create_directories(folder_.Path() / "drivers" / "ftdi_sio");
    symlink((folder_.Path() / "drivers" / "ftdi_sio").c_str(), (port / "driver").c_str());
    const std::pair<const char*, std::string> attributes[] = {{"idVendor", "0403"},
                                                              {"idProduct", product},
                                                              {"manufacturer", "FTDI"},
                                                              {"product", "FT232R USB UART"},
                                                              {"serial", serial}};
    for (const auto& [name, value] : attributes) {
      if (!value.empty()) testing_support::TempFolder::Write((usb / name).string(), value + "\n");
    }
    std::filesystem::create_directories(folder_.Path() / tty);
    std::error_code replugged;
    std::filesystem::remove(folder_.Path() / tty / "device", replugged);
    std::filesystem::create_symlink(port, folder_.Path() / tty / "device");
    std::filesystem::create_directories(ById());
    if (serial.empty()) return;
    std::filesystem::create_symlink("/dev/" + tty, ById() + "/usb-FTDI_" + serial + "-if00-port0");
  }
  std::string ById() const { return (folder_.Path() / "by-id").string(); }
  void AddVirtual(const std::string& tty) {
    std::filesystem::create_directories(folder_.Path() / tty);
  }
  std::string Root() const { return folder_.Path().string(); }

 private:
  testing_support::TempFolder folder_;
};

}  // namespace cport::testing
