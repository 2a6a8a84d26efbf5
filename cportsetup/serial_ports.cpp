#include "cportsetup/serial_ports.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cport/errors.h"
#include "cportsetup/adapter_identity.h"
#include "platform/sync/last_error.h"

namespace cport {
namespace {

std::string& Source() {
  static std::string source = "/sys/class/tty";
  return source;
}

std::string& ById() {
  static std::string byId = "/dev/serial/by-id";
  return byId;
}

// PORT_UNKNOWN: the 8250 driver registered the port but found no UART.
bool IsPlaceholder(const std::string& entry) {
  std::ifstream type(entry + "/type");
  int value = -1;
  return type >> value && value == 0;
}

bool HasSerialDevice(const std::string& entry) {
  char target[512];
  const ssize_t n = readlink((entry + "/device/driver").c_str(), target, sizeof target - 1);
  return n > 0;
}

std::string PortName(const std::string& tty) {
  if (tty.rfind("ttyS", 0) == 0 && tty.size() > 4 &&
      std::all_of(tty.begin() + 4, tty.end(), [](char c) { return std::isdigit(c); })) {
    return "COM" + std::to_string(std::stoi(tty.substr(4)) + 1);
  }
  return tty;
}

std::string Folded(const std::string& s) {
  std::string folded = s;
  for (char& c : folded) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return folded;
}

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::strcoll(Folded(a).c_str(), Folded(b).c_str()) < 0;
}

std::string TtyName(const std::string& listed) {
  if (listed.rfind("COM", 0) == 0 && listed.size() > 3 &&
      std::all_of(listed.begin() + 3, listed.end(), [](char c) { return std::isdigit(c); })) {
    return "ttyS" + std::to_string(std::stoi(listed.substr(3)) - 1);
  }
  return listed;
}

std::string FirstLine(const std::filesystem::path& file) {
  std::string line;
  std::getline(std::ifstream(file), line);
  return line;
}

// The USB device a tty belongs to sits a few levels above the tty's own device.
std::filesystem::path UsbDeviceOf(const std::filesystem::path& device) {
  std::error_code error;
  std::filesystem::path at = std::filesystem::canonical(device, error);
  for (int up = 0; !error && up < 4 && !at.empty(); ++up, at = at.parent_path()) {
    if (std::filesystem::exists(at / "idVendor", error)) return at;
  }
  return {};
}

std::string StableName(const std::string& tty) {
  std::error_code error;
  for (const auto& link : std::filesystem::directory_iterator(ById(), error)) {
    std::error_code broken;
    if (std::filesystem::read_symlink(link.path(), broken).filename() == tty) {
      return link.path().string();
    }
  }
  return {};
}

void AddLine(std::string& text, const char* label, const std::string& value) {
  if (!value.empty()) text += std::string(text.empty() ? "" : "\n") + label + ": " + value;
}

}  // namespace

void SetSerialPortSource(const std::string& sysClassTty, const std::string& serialById) {
  Source() = sysClassTty;
  ById() = serialById;
}

// The USB device's folder is named after where it is plugged in (bus, then port chain). A
// node made anew differs from the old one in its inode or at least in its change time.
AdapterIdentity IdentifyAdapter(const std::string& deviceOrPort) {
  std::error_code error;
  const auto resolved = std::filesystem::canonical(deviceOrPort, error);
  const std::string tty = error ? TtyName(deviceOrPort) : resolved.filename().string();
  AdapterIdentity identity;
  struct stat st {};
  if (!error && stat(resolved.c_str(), &st) == 0) {
    identity.node = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
                    std::to_string(st.st_rdev) + ":" + std::to_string(st.st_ctim.tv_sec) + "." +
                    std::to_string(st.st_ctim.tv_nsec);
  }
  const auto usb = UsbDeviceOf(std::filesystem::path(Source()) / tty / "device");
  if (usb.empty()) return identity;
  identity.vendor = FirstLine(usb / "idVendor");
  identity.product = FirstLine(usb / "idProduct");
  identity.serial = FirstLine(usb / "serial");
  identity.usbPort = usb.filename().string();
  return identity;
}

std::string DescribeSerialPort(const std::string& listedName) {
  const std::string tty = TtyName(listedName);
  const std::filesystem::path device = std::filesystem::path(Source()) / tty / "device";
  std::string text;
  std::error_code error;
  AddLine(text, "Driver", std::filesystem::read_symlink(device / "driver", error).filename());
  if (const auto usb = UsbDeviceOf(device); !usb.empty()) {
    AddLine(text, "USB", FirstLine(usb / "idVendor") + ":" + FirstLine(usb / "idProduct"));
    AddLine(text, "Maker", FirstLine(usb / "manufacturer"));
    AddLine(text, "Product", FirstLine(usb / "product"));
    AddLine(text, "Serial number", FirstLine(usb / "serial"));
  }
  AddLine(text, "Stable name", StableName(tty));
  return text;
}

void ListSerialPorts(std::vector<std::string>& list) {
  DIR* dir = opendir(Source().c_str());
  if (!dir) throw EComPort(peRegistry, static_cast<int>(platform::Win32ErrorFromErrno(errno)));
  std::vector<std::string> ports;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string entry = Source() + "/" + name;
    if (HasSerialDevice(entry) && !IsPlaceholder(entry)) ports.push_back(PortName(name));
  }
  closedir(dir);
  std::sort(ports.begin(), ports.end(), LessIgnoringCase);
  list = std::move(ports);
}

}  // namespace cport
