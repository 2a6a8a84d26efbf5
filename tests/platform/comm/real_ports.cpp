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

// The name the adapter's tty has now, empty while it has none.
std::string AdapterTty(const std::string& folder) {
  for (const auto& entry : std::filesystem::directory_iterator("/sys/class/tty")) {
    const std::string name = entry.path().filename().string();
    if (!IsUsbAdapter(name)) continue;
    std::error_code gone;
    const auto device = std::filesystem::canonical(entry.path() / "device", gone);
    if (!gone && device.string().rfind(folder + "/", 0) == 0 &&
        std::filesystem::exists("/dev/" + name)) {
      return name;
    }
  }
  return {};
}

// Waits on /dev's own notifications until `settled` says yes; names what it waited for if
// that never comes.
template <typename Settled>
void WaitOnDev(const std::string& what, Settled settled) {
  const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  inotify_add_watch(watch, "/dev", IN_CREATE | IN_DELETE);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!settled()) {
    if (std::chrono::steady_clock::now() > deadline) {
      close(watch);
      throw std::runtime_error(what);
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
  const std::string folder = UsbDeviceFolder(name);
  Authorize(name, false);
  WaitOnDev("/dev/" + name + " did not go", [&] { return AdapterTty(folder).empty(); });
}

// The kernel frees a pulled adapter's number in deferred work after its last descriptor
// has closed; plugged back before that work has run, the adapter takes the next number.
// So it is pulled again until it has its old name, which it never gets while a
// descriptor holds the old tty.
void PlugBackUsbAdapter(const std::string& name) {
  const std::string folder = UsbDeviceFolder(name);
  std::string now;
  for (int attempt = 0; attempt < 20; ++attempt) {
    Authorize(name, true);
    WaitOnDev("/dev/" + name + " did not come back",
              [&] { return !(now = AdapterTty(folder)).empty(); });
    if (now == name) return;
    Authorize(name, false);
    WaitOnDev("/dev/" + now + " did not go", [&] { return AdapterTty(folder).empty(); });
  }
  throw std::runtime_error(name + " kept coming back as " + now);
}

}  // namespace platform::testing
