#include "platform/comm/network/com_port_option.h"

#include <algorithm>
#include <cmath>

#include "platform/comm/network/telnet_codec.h"

namespace platform::comport {
namespace {

constexpr double kBaudTolerance = 0.03;
constexpr uint8_t kDeltaCts = 0x01, kDeltaDsr = 0x02, kRingEnded = 0x04, kDeltaDcd = 0x08;

uint8_t ParityValue(BYTE parity) {
  switch (parity) {
    case ODDPARITY:
      return 2;
    case EVENPARITY:
      return 3;
    case MARKPARITY:
      return 4;
    case SPACEPARITY:
      return 5;
    default:
      return 1;
  }
}

uint8_t StopSizeValue(BYTE stopBits) {
  switch (stopBits) {
    case ONE5STOPBITS:
      return 3;
    case TWOSTOPBITS:
      return 2;
    default:
      return 1;
  }
}

uint8_t FlowControlValue(const DCB& dcb) {
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) return kHardwareFlowControl;
  return dcb.fOutX ? kXonXoffFlowControl : kNoFlowControl;
}

}  // namespace

std::vector<Setting> SettingsFor(const DCB& dcb) {
  return {{kSetBaudRate, dcb.BaudRate},
          {kSetDataSize, dcb.ByteSize},
          {kSetParity, ParityValue(dcb.Parity)},
          {kSetStopSize, StopSizeValue(dcb.StopBits)},
          {kSetControl, FlowControlValue(dcb)}};
}

bool Confirms(const Setting& asked, uint32_t answered) {
  if (asked.command != kSetBaudRate) return answered == asked.value;
  return std::fabs(double(answered) - double(asked.value)) <= kBaudTolerance * asked.value;
}

void AppendSetting(const Setting& setting, std::vector<uint8_t>& out) {
  const uint32_t v = setting.value;
  if (setting.command == kSetBaudRate) {
    AppendCommand(setting.command,
                  {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}, out);
  } else {
    AppendCommand(setting.command, {uint8_t(v)}, out);
  }
}

void AppendCommand(uint8_t command, const std::vector<uint8_t>& value, std::vector<uint8_t>& out) {
  std::vector<uint8_t> payload(value.size() + 1);
  payload[0] = command;
  std::copy(value.begin(), value.end(), payload.begin() + 1);
  telnet::AppendSubnegotiation(telnet::kComPortOption, payload, out);
}

LineStatus LineStateNews(uint8_t state, bool parityChecked) {
  LineStatus news;
  if (state & 0x10) {
    news.events |= EV_BREAK;
    news.errors |= CE_BREAK;
  }
  if (state & 0x08) news.errors |= CE_FRAME;
  if ((state & 0x04) && parityChecked) news.errors |= CE_RXPARITY;
  if (state & 0x02) news.errors |= CE_OVERRUN;
  return news;
}

DWORD ModemStatusOf(uint8_t state) {
  return state & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
}

DWORD ModemStateEvents(uint8_t before, uint8_t after) {
  const uint8_t changed = before ^ after;
  DWORD events = 0;
  if ((changed & MS_CTS_ON) || (after & kDeltaCts)) events |= EV_CTS;
  if ((changed & MS_DSR_ON) || (after & kDeltaDsr)) events |= EV_DSR;
  if ((changed & MS_RLSD_ON) || (after & kDeltaDcd)) events |= EV_RLSD;
  const bool ringOn = after & MS_RING_ON, wasOn = before & MS_RING_ON;
  if ((ringOn && !wasOn) || ((after & kRingEnded) && !wasOn && !ringOn)) events |= EV_RING;
  return events;
}

}  // namespace platform::comport
