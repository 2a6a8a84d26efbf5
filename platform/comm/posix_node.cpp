#include "platform/comm/posix_node.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "platform/sync/last_error.h"

namespace platform {
namespace {

// Linux's fixed device numbers (Documentation/admin-guide/devices.txt).
constexpr unsigned kPtySlaveFirstMajor = 136;
constexpr unsigned kPtySlaveLastMajor = 143;
constexpr unsigned kTtyMajor = 4;  // virtual consoles below minor 64, ttyS from there
constexpr unsigned kFirstUartMinor = 64;
constexpr unsigned kTtyAuxMajor = 5;  // /dev/tty, /dev/console, /dev/ptmx

std::string SysfsNode(dev_t rdev) {
  return "/sys/dev/char/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev));
}

// Where the node sits in sysfs; empty when sysfs does not know it or is not mounted.
std::string SysfsTarget(dev_t rdev) {
  char target[4096];
  const ssize_t n = readlink(SysfsNode(rdev).c_str(), target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
}

std::string SysfsAttribute(dev_t rdev, const char* name) {
  std::ifstream in(SysfsNode(rdev) + "/" + name);
  std::string value;
  std::getline(in, value);
  return in ? value : std::string("?");
}

bool IsPtySlave(unsigned maj) { return maj >= kPtySlaveFirstMajor && maj <= kPtySlaveLastMajor; }

bool IsConsoleOrAlias(unsigned maj, unsigned min) {
  return maj == kTtyAuxMajor || (maj == kTtyMajor && min < kFirstUartMinor);
}

}  // namespace

DWORD CheckSerialNode(const std::string& path, dev_t& rdev) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return Win32ErrorFromErrno(errno);
  if (!S_ISCHR(st.st_mode)) return ERROR_NOT_SUPPORTED;
  rdev = st.st_rdev;
  const unsigned maj = major(rdev), min = minor(rdev);
  if (IsPtySlave(maj)) return 0;
  if (IsConsoleOrAlias(maj, min)) return ERROR_NOT_SUPPORTED;
  // Every serial driver's nodes belong to the tty class; a node sysfs puts elsewhere (a
  // watchdog, a disk) is never opened.
  const std::string target = SysfsTarget(rdev);
  if (!target.empty() && target.find("/tty/") == std::string::npos) return ERROR_NOT_SUPPORTED;
  return 0;
}

bool IsEmptyUartSlot(dev_t rdev) {
  return SysfsAttribute(rdev, "type") == "0" && SysfsAttribute(rdev, "port") == "0x0" &&
         SysfsAttribute(rdev, "iomem_base") == "0x0" && SysfsAttribute(rdev, "irq") == "0";
}

}  // namespace platform
