#include "app/port_trouble.h"

#include <vector>

#include "cport/errors.h"
#include "cportsetup/serial_ports.h"
#include "platform/comm/comm.h"
#include "platform/diagnosis/port_diagnosis.h"

namespace console {
namespace {

DWORD SystemCodeOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const cport::EComPort& e) {
    return static_cast<DWORD>(e.SystemErrorCode());
  } catch (...) {
    return 0;
  }
}

std::vector<std::string> KnownPorts() {
  std::vector<std::string> ports;
  try {
    cport::ListSerialPorts(ports);
  } catch (const cport::EComPort&) {
    // No list to offer; the explanation goes without it.
  }
  return ports;
}

}  // namespace

std::string WhyOpenFailed(const std::string& port, std::exception_ptr error) {
  return platform::ExplainOpenFailure(platform::DevicePathForPort(port), SystemCodeOf(error),
                                      KnownPorts());
}

std::string WhyPortWasLost(const std::string& port, std::exception_ptr error) {
  return platform::ExplainLostPort(platform::DevicePathForPort(port), SystemCodeOf(error));
}

}  // namespace console
