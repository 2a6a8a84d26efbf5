#pragma once

#include <cstdint>
#include <vector>

#include "platform/comm/byte_line.h"
#include "platform/win32_types.h"

// The COM port option of telnet: the far port's settings, modem lines and line state
// carried as subnegotiations. A server answers a command with its code plus 100.
namespace platform::comport {

enum Command : uint8_t {
  kSetBaudRate = 1,
  kSetDataSize = 2,
  kSetParity = 3,
  kSetStopSize = 4,
  kSetControl = 5,
  kNotifyLineState = 6,
  kNotifyModemState = 7,
  kFlowControlSuspend = 8,
  kFlowControlResume = 9,
  kSetLineStateMask = 10,
  kSetModemStateMask = 11,
  kPurgeData = 12,
};
constexpr uint8_t kServerOffset = 100;

// SET-CONTROL values this client sends.
enum Control : uint8_t {
  kNoFlowControl = 1,
  kXonXoffFlowControl = 2,
  kHardwareFlowControl = 3,
  kDtrOn = 8,
  kDtrOff = 9,
  kRtsOn = 11,
  kRtsOff = 12,
};

// One value of the far port's settings, and the answer that confirms it.
struct Setting {
  uint8_t command;
  uint32_t value;
  bool operator==(const Setting&) const = default;
};

// The settings a DCB asks of the far port, in the order they are sent: baud rate, data
// bits, parity, stop bits, output flow control.
std::vector<Setting> SettingsFor(const DCB& dcb);
// Whether the server's answer confirms the setting; a baud rate may differ as a local
// driver's may (3 %).
bool Confirms(const Setting& asked, uint32_t answered);

// IAC SB COM-PORT-OPTION command value IAC SE; a baud rate takes four bytes, the rest one.
void AppendSetting(const Setting& setting, std::vector<uint8_t>& out);
void AppendCommand(uint8_t command, const std::vector<uint8_t>& value, std::vector<uint8_t>& out);

// The line state bits reported (break, framing, parity, overrun) as events and errors;
// parity errors only count while parity is checked, as on a local port.
LineStatus LineStateNews(uint8_t state, bool parityChecked);
constexpr uint8_t kReportedLineStates = 0x1E;
// Modem state: the lines' levels in the high nibble (the MS_* bits), and the server's
// change flags in the low one.
DWORD ModemStatusOf(uint8_t state);
// EV_CTS, EV_DSR, EV_RLSD for a line that changed or that the server flags as changed;
// EV_RING for a ring that began, or one the server saw end unseen.
DWORD ModemStateEvents(uint8_t before, uint8_t after);

}  // namespace platform::comport
