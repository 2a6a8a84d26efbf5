#pragma once

#include <string>

namespace platform::testing {

// Helpers for the driver rig's real ports. Names are /dev names ("ttyUSB0").
int OpenRawPort(const std::string& path, unsigned baud);
// What the driver holds for a port, read through a descriptor of its own (the kernel's
// termios2 fields; this header stays free of either termios header).
struct DriverSettings {
  unsigned speed = 0;
  unsigned cflag = 0;
  unsigned iflag = 0;
};
DriverSettings ReadDriverSettings(const std::string& name);
bool IsUsbAdapter(const std::string& name);
// The adapter's driver sees a disconnect, as when the cable is pulled; plugging it back
// gives it its old name. Both wait until the device node has gone or come back.
void UnplugUsbAdapter(const std::string& name);
void PlugBackUsbAdapter(const std::string& name);

}  // namespace platform::testing
