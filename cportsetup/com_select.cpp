#include "cportsetup/com_select.h"

#include "cportsetup/network_ports.h"
#include "cportsetup/serial_ports.h"

namespace cport {
namespace {

template <typename E>
void AddTexts(std::vector<std::string>& items, int count, std::string (*toText)(E)) {
  for (int i = 0; i < count; ++i) items.push_back(toText(static_cast<E>(i)));
}

}  // namespace

void TComSelect::LoadItems(TComProperty property) {
  ComProperty = property;
  if (!Items) return;
  Items->clear();
  switch (property) {
    case cpPort:
      ListSerialPorts(*Items);
      AppendNetworkPorts(*Items);
      break;
    case cpBaudRate:
      AddTexts<TBaudRate>(*Items, 16, BaudRateToText);
      break;
    case cpDataBits:
      AddTexts<TDataBits>(*Items, 4, DataBitsToText);
      break;
    case cpStopBits:
      AddTexts<TStopBits>(*Items, 3, StopBitsToText);
      break;
    case cpParity:
      AddTexts<TParityBits>(*Items, 5, ParityToText);
      break;
    case cpFlowControl:
      AddTexts<TFlowControl>(*Items, 4, FlowControlToText);
      break;
    case cpNone:
      break;
  }
}

void TComSelect::StoreChosen(const std::string& text) {
  switch (ComProperty) {
    case cpPort:
      ChosenPort = text;
      break;
    case cpBaudRate:
      ChosenBaudRate = BaudRateFromText(text);
      break;
    case cpDataBits:
      ChosenDataBits = DataBitsFromText(text);
      break;
    case cpStopBits:
      ChosenStopBits = StopBitsFromText(text);
      break;
    case cpParity:
      ChosenParity = ParityFromText(text);
      break;
    case cpFlowControl:
      ChosenFlowControl = FlowControlFromText(text);
      break;
    case cpNone:
      break;
  }
}

void TComSelect::TakeText(const std::string& text) {
  StoreChosen(text);
  if (AutoApply) ApplyToPort();
}

void TComSelect::ApplyToPort() {
  if (!ComPort) return;
  switch (ComProperty) {
    case cpPort:
      ComPort->SetPort(ChosenPort);
      break;
    case cpBaudRate:
      ComPort->SetBaudRate(ChosenBaudRate);
      break;
    case cpDataBits:
      ComPort->SetDataBits(ChosenDataBits);
      break;
    case cpStopBits:
      ComPort->SetStopBits(ChosenStopBits);
      break;
    case cpParity:
      ComPort->Parity().SetBits(ChosenParity);
      break;
    case cpFlowControl:
      ComPort->FlowControl().SetFlowControl(ChosenFlowControl);
      break;
    case cpNone:
      break;
  }
}

std::string TComSelect::PortValueText() const {
  switch (ComProperty) {
    case cpPort:
      return ComPort->Port();
    case cpBaudRate:
      return BaudRateToText(ComPort->BaudRate());
    case cpDataBits:
      return DataBitsToText(ComPort->DataBits());
    case cpStopBits:
      return StopBitsToText(ComPort->StopBits());
    case cpParity:
      return ParityToText(ComPort->Parity().Bits());
    case cpFlowControl:
      return FlowControlToText(ComPort->FlowControl().FlowControl());
    case cpNone:
      break;
  }
  return {};
}

// The chosen value takes the list item's spelling: com1 found as "COM1" is chosen as such.
int TComSelect::LoadFromPort() {
  if (!ComPort || ComProperty == cpNone || !Items) return -1;
  const std::string current = PortValueText();
  for (size_t i = 0; i < Items->size(); ++i) {
    if (AsciiUpper((*Items)[i]) == AsciiUpper(current)) {
      StoreChosen((*Items)[i]);
      return static_cast<int>(i);
    }
  }
  return -1;
}

}  // namespace cport
