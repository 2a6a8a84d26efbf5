#include "platform/diagnosis/port_diagnosis.h"

#include "platform/comm/network/network_port_name.h"

namespace platform {
namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "none found" : text;
}

// The device path of a port name is the name in the "\\.\" namespace.
bool IsNetworkPath(const std::string& devicePath) {
  constexpr std::string_view kPrefix = "\\\\.\\";
  const std::string_view name(devicePath);
  return IsNetworkPortName(name.substr(name.rfind(kPrefix, 0) == 0 ? kPrefix.size() : 0));
}

}  // namespace

// Windows names neither the program holding a port nor a group that grants it, so the
// texts say what the code means and which ports exist.
std::string ExplainOpenFailure(const std::string& devicePath, DWORD error,
                               const std::vector<std::string>& knownPorts,
                               const DiagnosisSources&) {
  if (IsNetworkPath(devicePath)) {
    return "Network ports (rfc2217://host:port, socket://host:port) are not available in the "
           "Windows build yet: open the port through the device server's own virtual COM port "
           "driver, or use the Linux build.";
  }
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return devicePath + " does not exist. Serial ports on this machine: " + Joined(knownPorts) +
             ".";
    case ERROR_ACCESS_DENIED:
      return devicePath +
             " is in use by another program. Close it there, then press the "
             "settings button.";
    case ERROR_NOT_SUPPORTED:
      return devicePath +
             " is not a serial port. Serial ports on this machine: " + Joined(knownPorts) + ".";
    default:
      return "Opening " + devicePath + " failed (win error code: " + std::to_string(error) + ").";
  }
}

std::string ExplainLostPort(const std::string& devicePath, DWORD error) {
  return devicePath + " stopped answering (win error code: " + std::to_string(error) +
         "): the adapter may have been unplugged. Check the cable, then press the settings "
         "button.";
}

std::vector<std::string> ProcessesHolding(const std::string&, const std::string&) { return {}; }

std::string ExplainMissingGroup(const std::string&, const std::string&, const std::string&, bool) {
  return {};
}

}  // namespace platform
