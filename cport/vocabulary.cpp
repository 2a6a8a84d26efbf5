#include "cport/vocabulary.h"

#include <array>

namespace cport {
namespace {

constexpr std::array<uint32_t, 16> kSpeeds = {0,     110,    300,    600,   1200,  2400,
                                              4800,  9600,   14400,  19200, 38400, 56000,
                                              57600, 115200, 128000, 256000};
constexpr std::array<const char*, 16> kBaudTexts = {
    "Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
    "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
constexpr std::array<const char*, 3> kStopTexts = {"1", "1.5", "2"};
constexpr std::array<const char*, 4> kDataTexts = {"5", "6", "7", "8"};
constexpr std::array<const char*, 5> kParityTexts = {"None", "Odd", "Even", "Mark", "Space"};
constexpr std::array<const char*, 4> kFlowTexts = {"Hardware", "Software", "None", "Custom"};
constexpr std::array<const char*, 3> kDtrTexts = {"Disable", "Enable", "Handshake"};
constexpr std::array<const char*, 4> kRtsTexts = {"Disable", "Enable", "Handshake", "Toggle"};
constexpr std::array<uint32_t, 10> kEventBits = {0x0001, 0x0004, 0x0002, 0x0100, 0x0040,
                                                 0x0008, 0x0010, 0x0080, 0x0020, 0x0400};
constexpr std::array<uint32_t, 8> kErrorFlags = {0x0008, 0x0004, 0x0002, 0x0010,
                                                 0x0400, 0x8000, 0x0001, 0x0100};
constexpr std::array<uint32_t, 4> kSignalBits = {0x0010, 0x0020, 0x0040, 0x0080};

template <typename E, size_t N>
E MatchText(const std::string& text, const std::array<const char*, N>& forms, E fallback) {
  const std::string wanted = AsciiUpper(text);
  for (size_t i = 0; i < N; ++i) {
    if (AsciiUpper(forms[i]) == wanted) return static_cast<E>(i);
  }
  return fallback;
}

template <typename T, size_t N>
T At(const std::array<T, N>& table, size_t index) {
  return index < N ? table[index] : T{};
}

}  // namespace

std::string AsciiUpper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

uint32_t BaudRateSpeed(TBaudRate value) { return At(kSpeeds, value); }
uint8_t StopBitsCode(TStopBits value) { return static_cast<uint8_t>(value); }
uint8_t DataBitsCount(TDataBits value) { return static_cast<uint8_t>(5 + value); }
uint8_t ParityCode(TParityBits value) { return static_cast<uint8_t>(value); }
uint32_t DTRControlBits(TDTRFlowControl value) { return static_cast<uint32_t>(value) << 4; }
uint32_t RTSControlBits(TRTSFlowControl value) { return static_cast<uint32_t>(value) << 12; }
uint32_t EventMaskBit(TComEvent value) { return At(kEventBits, value); }
uint32_t ErrorFlag(TComError value) { return At(kErrorFlags, value); }
uint32_t LineSignalBit(TLineSignal value) { return At(kSignalBits, value); }

std::string BaudRateToText(TBaudRate value) { return At(kBaudTexts, value); }
TBaudRate BaudRateFromText(const std::string& text) { return MatchText(text, kBaudTexts, br9600); }
std::string StopBitsToText(TStopBits value) { return At(kStopTexts, value); }
TStopBits StopBitsFromText(const std::string& text) {
  return MatchText(text, kStopTexts, sbOneStopBit);
}
std::string DataBitsToText(TDataBits value) { return At(kDataTexts, value); }
TDataBits DataBitsFromText(const std::string& text) { return MatchText(text, kDataTexts, dbEight); }
std::string ParityToText(TParityBits value) { return At(kParityTexts, value); }
TParityBits ParityFromText(const std::string& text) {
  return MatchText(text, kParityTexts, prNone);
}
std::string FlowControlToText(TFlowControl value) { return At(kFlowTexts, value); }
TFlowControl FlowControlFromText(const std::string& text) {
  return MatchText(text, kFlowTexts, fcCustom);
}
std::string DTRControlToText(TDTRFlowControl value) { return At(kDtrTexts, value); }
TDTRFlowControl DTRControlFromText(const std::string& text) {
  return MatchText(text, kDtrTexts, dtrDisable);
}
std::string RTSControlToText(TRTSFlowControl value) { return At(kRtsTexts, value); }
TRTSFlowControl RTSControlFromText(const std::string& text) {
  return MatchText(text, kRtsTexts, rtsDisable);
}

uint32_t EventsToMask(TComEvents events) {
  uint32_t mask = 0;
  for (size_t i = 0; i < kEventBits.size(); ++i) {
    if (events.Contains(static_cast<TComEvent>(i))) mask |= kEventBits[i];
  }
  return mask;
}

TComEvents MaskToEvents(uint32_t mask) {
  TComEvents events;
  for (size_t i = 0; i < kEventBits.size(); ++i) {
    if (mask & kEventBits[i]) events.Include(static_cast<TComEvent>(i));
  }
  return events;
}

TFlowControl DeriveFlowControl(const FlowControlFields& f) {
  if (f.ControlRTS == rtsHandshake && f.OutCTSFlow && !f.XonXoffIn && !f.XonXoffOut) {
    return fcHardware;
  }
  if (f.ControlRTS == rtsDisable && !f.OutCTSFlow && f.XonXoffIn && f.XonXoffOut) {
    return fcSoftware;
  }
  if (f.ControlRTS == rtsDisable && !f.OutCTSFlow && !f.XonXoffIn && !f.XonXoffOut) {
    return fcNone;
  }
  return fcCustom;
}

void WriteFlowControl(TFlowControl preset, FlowControlFields& f) {
  if (preset == fcCustom) return;
  f = FlowControlFields{};
  if (preset == fcHardware) {
    f.ControlRTS = rtsHandshake;
    f.OutCTSFlow = true;
  } else if (preset == fcSoftware) {
    f.XonXoffIn = true;
    f.XonXoffOut = true;
  }
}

}  // namespace cport
