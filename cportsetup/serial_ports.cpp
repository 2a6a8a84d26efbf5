#include "cportsetup/serial_ports.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "cport/errors.h"
#include "platform/sync/last_error.h"

namespace cport {
namespace {

std::string& Source() {
  static std::string source = "/sys/class/tty";
  return source;
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

}  // namespace

void SetSerialPortSource(const std::string& sysClassTty) { Source() = sysClassTty; }

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
