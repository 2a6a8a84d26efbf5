#include <memory>

#include "cport/comport.h"
#include "platform/process/error_display.h"
#include "platform/windows.h"

namespace cport {

void TCustomComPort::HandleRxChar() {
  int32_t count = InputQueueCount();
  if (count > 0) NotifyListenersState(lstReceiving, true);
  if (count > 0 && !FireRxChar() && TakeReceivedBytes(count)) count = 0;
  if (count > 0) TriggerRxChar(count);
}

// Reads the announced bytes at most once and hands them to the listeners that want them
// and to OnRxBuf. Returns whether they were taken.
bool TCustomComPort::TakeReceivedBytes(int32_t count) {
  std::unique_ptr<uint8_t[]> buffer;
  auto take = [&] {
    if (buffer) return;
    buffer = std::make_unique<uint8_t[]>(static_cast<size_t>(count));
    ReadBuffer(buffer.get(), count);
    TriggerRxBuf(buffer.get(), count);
  };
  const std::vector<TComListener*> listeners = listeners_;
  for (TComListener* listener : listeners) {
    if (!listener->OnRxBuf) continue;
    take();
    listener->OnRxBuf(this, buffer.get(), count);
  }
  if (!fireRxChar_) take();
  return buffer != nullptr;
}

void TCustomComPort::HandleTxEmpty() {
  NotifyListenersState(lstTransmitting, false);
  NotifyListeners(lnTxEmpty);
  TriggerTxEmpty();
}

void TCustomComPort::HandleRxFlag() {
  NotifyListeners(lnEventChar);
  TriggerRxFlag();
}

void TCustomComPort::HandleRing() {
  NotifyListeners(lnRing);
  TriggerRing();
}

void TCustomComPort::HandleBreak() { TriggerBreak(); }
void TCustomComPort::HandleRx80Full() { TriggerRx80Full(); }

void TCustomComPort::HandleSignalChange(TLineSignal signal, TListenerState kind,
                                        void (TCustomComPort::*trigger)(bool)) {
  const bool on = LineSignals().Contains(signal);
  NotifyListenersState(kind, on);
  (this->*trigger)(on);
}

void TCustomComPort::HandleCTSChange() {
  HandleSignalChange(lsCTS, lstCTS, &TCustomComPort::TriggerCTSChange);
}
void TCustomComPort::HandleDSRChange() {
  HandleSignalChange(lsDSR, lstDSR, &TCustomComPort::TriggerDSRChange);
}
void TCustomComPort::HandleRLSDChange() {
  HandleSignalChange(lsRLSD, lstRLSD, &TCustomComPort::TriggerRLSDChange);
}

void TCustomComPort::HandleError() {
  const TComErrors errors = FetchLineErrors();
  if (!errors.Empty()) TriggerError(errors);
}

void TCustomComPort::HandleBeforeOpen() { TriggerBeforeOpen(); }

void TCustomComPort::HandleAfterOpen() {
  NotifyListenersState(lstConnection, true);
  TriggerAfterOpen();
  ReportSignals(true);
}

void TCustomComPort::HandleBeforeClose() {
  ReportSignals(false);
  TriggerBeforeClose();
}

void TCustomComPort::HandleAfterClose() {
  NotifyListenersState(lstConnection, false);
  TriggerAfterClose();
}

void TCustomComPort::ReportSignals(bool opened) {
  if (opened) {
    HandleCTSChange();
    HandleDSRChange();
    HandleRLSDChange();
    return;
  }
  NotifyListenersState(lstCTS, false);
  NotifyListenersState(lstDSR, false);
  NotifyListenersState(lstRLSD, false);
  TriggerCTSChange(false);
  TriggerDSRChange(false);
  TriggerRLSDChange(false);
}

LRESULT TCustomComPort::PortWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != WM_COMPORTEVENT) return DefWindowProcA(window, message, wParam, lParam);
  if (InSendMessage()) ReplyMessage(0);
  // Messages of a batch whose handler closed the port are dropped with the rest.
  if (!connected_ || closedByHandler_) return 0;
  ++windowHandlers_;
  struct Handled {
    int& count;
    ~Handled() { --count; }
  } handled{windowHandlers_};
  try {
    switch (wParam) {
      case 1:
        HandleRxChar();
        break;
      case 2:
        HandleRxFlag();
        break;
      case 4:
        HandleTxEmpty();
        break;
      case 8:
        HandleCTSChange();
        break;
      case 16:
        HandleDSRChange();
        break;
      case 32:
        HandleRLSDChange();
        break;
      case 64:
        HandleBreak();
        break;
      case 128:
        HandleError();
        break;
      case 256:
        HandleRing();
        break;
      case 1024:
        HandleRx80Full();
        break;
      default:
        break;
    }
  } catch (...) {
    platform::ShowError(std::current_exception());
  }
  return 0;
}

void TCustomComPort::TriggerAfterClose() {
  if (OnAfterClose) OnAfterClose(this);
}
void TCustomComPort::TriggerAfterOpen() {
  if (OnAfterOpen) OnAfterOpen(this);
}
void TCustomComPort::TriggerBeforeClose() {
  if (OnBeforeClose) OnBeforeClose(this);
}
void TCustomComPort::TriggerBeforeOpen() {
  if (OnBeforeOpen) OnBeforeOpen(this);
}
void TCustomComPort::TriggerRxChar(int32_t count) {
  if (OnRxChar) OnRxChar(this, count);
}
void TCustomComPort::TriggerRxBuf(const void* buffer, int32_t count) {
  if (OnRxBuf) OnRxBuf(this, buffer, count);
}
void TCustomComPort::TriggerTxEmpty() {
  if (OnTxEmpty) OnTxEmpty(this);
}
void TCustomComPort::TriggerBreak() {
  if (OnBreak) OnBreak(this);
}
void TCustomComPort::TriggerRing() {
  if (OnRing) OnRing(this);
}
void TCustomComPort::TriggerRxFlag() {
  if (OnRxFlag) OnRxFlag(this);
}
void TCustomComPort::TriggerCTSChange(bool onOff) {
  if (OnCTSChange) OnCTSChange(this, onOff);
}
void TCustomComPort::TriggerDSRChange(bool onOff) {
  if (OnDSRChange) OnDSRChange(this, onOff);
}
void TCustomComPort::TriggerError(TComErrors errors) {
  if (OnError) OnError(this, errors);
}
void TCustomComPort::TriggerRLSDChange(bool onOff) {
  if (OnRLSDChange) OnRLSDChange(this, onOff);
}
void TCustomComPort::TriggerRx80Full() {
  if (OnRx80Full) OnRx80Full(this);
}

}  // namespace cport
