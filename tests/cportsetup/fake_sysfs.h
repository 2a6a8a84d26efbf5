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
  void AddVirtual(const std::string& tty) {
    std::filesystem::create_directories(folder_.Path() / tty);
  }
  std::string Root() const { return folder_.Path().string(); }

 private:
  testing_support::TempFolder folder_;
};

}  // namespace cport::testing
