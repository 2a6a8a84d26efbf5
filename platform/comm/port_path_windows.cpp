#include "platform/comm/comm.h"

namespace platform {

std::string DevicePathForPort(const std::string& name) {
  constexpr char kDevicePrefix[] = "\\\\.\\";
  if (name.rfind(kDevicePrefix, 0) == 0) return name;
  return kDevicePrefix + name;
}

}  // namespace platform
