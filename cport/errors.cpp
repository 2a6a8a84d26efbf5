#include "cport/errors.h"

#include <array>

namespace cport {
namespace {

constexpr std::array<const char*, 23> kMessages = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set property while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
    "Registry error",
};

std::string WithSystemCode(int errorNumber, int systemErrorCode) {
  return ComErrorText(errorNumber) + " (win error code: " + std::to_string(systemErrorCode) + ")";
}

}  // namespace

std::string ComErrorText(int errorNumber) {
  if (errorNumber < 1 || errorNumber > static_cast<int>(kMessages.size())) return {};
  return kMessages[errorNumber - 1];
}

EComPort::EComPort(int errorNumber)
    : std::runtime_error(ComErrorText(errorNumber)),
      systemErrorCode_(-1),
      errorNumber_(errorNumber) {}

EComPort::EComPort(int errorNumber, int systemErrorCode)
    : std::runtime_error(WithSystemCode(errorNumber, systemErrorCode)),
      systemErrorCode_(systemErrorCode),
      errorNumber_(errorNumber) {}

}  // namespace cport
