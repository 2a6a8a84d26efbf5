#include <algorithm>
#include <cstring>

#include "cport/errors.h"
#include "cport/vocabulary.h"
#include "cportsetup/adapter_identity.h"
#include "cportsetup/serial_ports.h"
#include "platform/win32_types.h"

namespace cport {
namespace {

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::strcoll(AsciiUpper(a).c_str(), AsciiUpper(b).c_str()) < 0;
}

// The port names Windows' serial drivers publish, one value each.
std::vector<std::string> PublishedPorts(HKEY key) {
  std::vector<std::string> ports;
  for (DWORD index = 0;; ++index) {
    char name[256];
    char data[256];
    DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
    const LSTATUS status = RegEnumValueA(key, index, name, &nameSize, nullptr, &type,
                                         reinterpret_cast<BYTE*>(data), &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataSize] = '\0';
    ports.emplace_back(data);
  }
  return ports;
}

}  // namespace

void ListSerialPorts(std::vector<std::string>& list) {
  HKEY key = nullptr;
  const LSTATUS status =
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key);
  if (status == ERROR_FILE_NOT_FOUND) {  // the key appears with the first serial port
    list.clear();
    return;
  }
  if (status != ERROR_SUCCESS) throw EComPort(peRegistry, static_cast<int>(status));
  std::vector<std::string> ports = PublishedPorts(key);
  RegCloseKey(key);
  std::sort(ports.begin(), ports.end(), LessIgnoringCase);
  list = std::move(ports);
}

// Windows keeps what sysfs tells elsewhere behind the setup API; the tooltips stay empty.
std::string DescribeSerialPort(const std::string&) { return {}; }
AdapterIdentity IdentifyAdapter(const std::string&) { return {}; }
void SetSerialPortSource(const std::string&, const std::string&) {}

}  // namespace cport
