#include "real_ports.h"

#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace platform::testing {
namespace {

// The USB device of an adapter's tty: sysfs puts the tty below the interface below it.
std::string UsbDeviceFolder(const std::string& name) {
  static std::string folder;
  if (folder.empty()) {
    const auto device = std::filesystem::canonical("/sys/class/tty/" + name + "/device");
    folder = device.parent_path().parent_path().string();
  }
  return folder;
}

// Waits on /dev's own notifications until the node is there or gone, as wanted.
void WaitForNode(const std::string& name, bool present) {
  const std::string path = "/dev/" + name;
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(watch, "/dev", IN_CREATE | IN_DELETE);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::filesystem::exists(path) != present) {
    if (std::chrono::steady_clock::now() > deadline) {
      close(watch);
      throw std::runtime_error(path + (present ? " did not come back" : " did not go"));
    }
    pollfd p{watch, POLLIN, 0};
    poll(&p, 1, 1000);
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
  }
  close(watch);
}

void Authorize(const std::string& name, bool on) {
  std::ofstream(UsbDeviceFolder(name) + "/authorized") << (on ? "1" : "0");
}

}  // namespace

int OpenRawPort(const std::string& path, unsigned baud) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios2 t{};
  ioctl(fd, TCGETS2, &t);
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  t.c_cflag = CS8 | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
  t.c_ispeed = t.c_ospeed = baud;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  ioctl(fd, TCSETS2, &t);
  ioctl(fd, TCFLSH, TCIOFLUSH);
  return fd;
}

DriverSettings ReadDriverSettings(const std::string& name) {
  termios2 t{};
  const int fd = open(("/dev/" + name).c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {
    ioctl(fd, TCGETS2, &t);
    close(fd);
  }
  return {t.c_ospeed, t.c_cflag, t.c_iflag};
}

bool IsUsbAdapter(const std::string& name) {
  return name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0;
}

void UnplugUsbAdapter(const std::string& name) {
  UsbDeviceFolder(name);
  Authorize(name, false);
  WaitForNode(name, false);
}

void PlugBackUsbAdapter(const std::string& name) {
  Authorize(name, true);
  WaitForNode(name, true);
}

}  // namespace platform::testing
