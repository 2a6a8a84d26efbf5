#pragma once

#include <string>
#include <vector>

#include "cport/comport.h"

namespace cport {

enum TComProperty : uint8_t {
  cpNone,
  cpPort,
  cpBaudRate,
  cpDataBits,
  cpStopBits,
  cpParity,
  cpFlowControl
};

// Knows one basic setting of a port: fills a list with its values, converts between list
// texts and values, remembers the chosen one and writes it into the port.
class TComSelect {
 public:
  std::string ChosenPort;
  TBaudRate ChosenBaudRate = brCustom;
  TDataBits ChosenDataBits = dbFive;
  TStopBits ChosenStopBits = sbOneStopBit;
  TParityBits ChosenParity = prNone;
  TFlowControl ChosenFlowControl = fcHardware;
  std::vector<std::string>* Items = nullptr;  // the list of the control, not owned
  TComProperty ComProperty = cpNone;
  TCustomComPort* ComPort = nullptr;
  bool AutoApply = false;

  void LoadItems(TComProperty property);
  void TakeText(const std::string& text);
  void ApplyToPort();
  int LoadFromPort();

 private:
  void StoreChosen(const std::string& text);
  std::string PortValueText() const;
};

}  // namespace cport
