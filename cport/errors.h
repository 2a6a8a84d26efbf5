#pragma once

#include <stdexcept>
#include <string>

namespace cport {

enum : int {
  peOpenPort = 1,
  peWriteFile,
  peReadFile,
  peAsyncParameter,
  pePurgeComm,
  peAsyncStatus,
  peSetCommState,
  peSetCommTimeouts,
  peSetupComm,
  peClearCommError,
  peModemStatus,
  peEscapeComm,
  peTransmitChar,
  peSetWhileConnected,
  peEnumPorts,
  peStoreSettings,
  peLoadSettings,
  peLinkRegistration,
  peLedState,
  peWaitWithThread,
  peWaitForEvent,
  peRxBufLinked,
  peRegistry,
};

// The fixed text of an error number; empty outside 1..23.
std::string ComErrorText(int errorNumber);

class EComPort : public std::runtime_error {
 public:
  explicit EComPort(int errorNumber);
  EComPort(int errorNumber, int systemErrorCode);

  int ErrorNumber() const { return errorNumber_; }
  int SystemErrorCode() const { return systemErrorCode_; }

 private:
  int systemErrorCode_;
  int errorNumber_;
};

}  // namespace cport
