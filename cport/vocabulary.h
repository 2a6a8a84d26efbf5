#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "cport/set.h"

namespace cport {

class TCustomComPort;
using TObject = TCustomComPort;

enum TBaudRate : uint8_t {
  brCustom,
  br110,
  br300,
  br600,
  br1200,
  br2400,
  br4800,
  br9600,
  br14400,
  br19200,
  br38400,
  br56000,
  br57600,
  br115200,
  br128000,
  br256000
};
enum TStopBits : uint8_t { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits : uint8_t { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits : uint8_t { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl : uint8_t { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl : uint8_t { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl : uint8_t { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent : uint8_t {
  evRxChar,
  evTxEmpty,
  evRxFlag,
  evRing,
  evBreak,
  evCTS,
  evDSR,
  evError,
  evRLSD,
  evRx80Full
};
enum TComError : uint8_t {
  ceFrame,
  ceRxParity,
  ceOverrun,
  ceBreak,
  ceIO,
  ceMode,
  ceRxOver,
  ceTxFull
};
enum TLineSignal : uint8_t { lsCTS, lsDSR, lsRing, lsRLSD };
enum TSyncMethod : uint8_t { smThreadSync, smWindowSync, smNone };
enum TSettingsGroup : uint8_t { sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers };

using TComEvents = TSet<TComEvent, 10>;
using TComErrors = TSet<TComError, 8>;
using TLineSignals = TSet<TLineSignal, 4>;
using TSettingsGroups = TSet<TSettingsGroup, 6>;

// Handlers receive the port that raises the event first.
using TNotifyEvent = std::function<void(TObject* Sender)>;
using TRxCharEvent = std::function<void(TObject* Sender, int32_t Count)>;
using TRxBufEvent = std::function<void(TObject* Sender, const void* Buffer, int32_t Count)>;
using TComErrorEvent = std::function<void(TObject* Sender, TComErrors Errors)>;
using TComSignalEvent = std::function<void(TObject* Sender, bool OnOff)>;

// Values handed to the operating system.
uint32_t BaudRateSpeed(TBaudRate value);  // 0 for brCustom
uint8_t StopBitsCode(TStopBits value);
uint8_t DataBitsCount(TDataBits value);
uint8_t ParityCode(TParityBits value);
uint32_t DTRControlBits(TDTRFlowControl value);
uint32_t RTSControlBits(TRTSFlowControl value);
uint32_t EventMaskBit(TComEvent value);
uint32_t ErrorFlag(TComError value);
uint32_t LineSignalBit(TLineSignal value);

// Only the ASCII letters a to z become capitals; bytes of other code pages stay as they are.
std::string AsciiUpper(std::string text);

std::string BaudRateToText(TBaudRate value);
TBaudRate BaudRateFromText(const std::string& text);
std::string StopBitsToText(TStopBits value);
TStopBits StopBitsFromText(const std::string& text);
std::string DataBitsToText(TDataBits value);
TDataBits DataBitsFromText(const std::string& text);
std::string ParityToText(TParityBits value);
TParityBits ParityFromText(const std::string& text);
std::string FlowControlToText(TFlowControl value);
TFlowControl FlowControlFromText(const std::string& text);
std::string DTRControlToText(TDTRFlowControl value);
TDTRFlowControl DTRControlFromText(const std::string& text);
std::string RTSControlToText(TRTSFlowControl value);
TRTSFlowControl RTSControlFromText(const std::string& text);

uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);

// The four fields a flow-control preset summarises.
struct FlowControlFields {
  TRTSFlowControl ControlRTS = rtsDisable;
  bool OutCTSFlow = false;
  bool XonXoffIn = false;
  bool XonXoffOut = false;
};
TFlowControl DeriveFlowControl(const FlowControlFields& fields);
void WriteFlowControl(TFlowControl preset, FlowControlFields& fields);

}  // namespace cport
