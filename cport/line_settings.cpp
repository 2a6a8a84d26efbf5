#include "cport/comport.h"
#include "cport/errors.h"
#include "platform/windows.h"

namespace cport {
namespace {

int LastError() { return static_cast<int>(GetLastError()); }

}  // namespace

// Filled completely from zero on every application: nothing is read back from the device.
DCB BuildDcb(const TCustomComPort& port) {
  const TComParity& parity = port.Parity();
  const TComFlowControl& flow = port.FlowControl();
  DCB dcb{};
  dcb.DCBlength = sizeof(DCB);
  dcb.BaudRate = port.BaudRate() == brCustom ? static_cast<DWORD>(port.CustomBaudRate())
                                             : BaudRateSpeed(port.BaudRate());
  dcb.fBinary = 1;
  dcb.fParity = parity.Check();
  dcb.fOutxCtsFlow = flow.OutCTSFlow();
  dcb.fOutxDsrFlow = flow.OutDSRFlow();
  dcb.fDtrControl = DTRControlBits(flow.ControlDTR()) >> 4;
  dcb.fDsrSensitivity = flow.DSRSensitivity();
  dcb.fTXContinueOnXoff = flow.TxContinueOnXoff();
  dcb.fOutX = flow.XonXoffOut();
  dcb.fInX = flow.XonXoffIn();
  dcb.fErrorChar = parity.Check() && parity.Replace();
  dcb.fNull = port.DiscardNull();
  dcb.fRtsControl = RTSControlBits(flow.ControlRTS()) >> 12;
  dcb.XonLim = static_cast<WORD>(port.Buffer().InputSize() / 4);
  dcb.XoffLim = dcb.XonLim;
  dcb.ByteSize = DataBitsCount(port.DataBits());
  dcb.Parity = ParityCode(parity.Bits());
  dcb.StopBits = StopBitsCode(port.StopBits());
  dcb.XonChar = flow.XonChar();
  dcb.XoffChar = flow.XoffChar();
  dcb.ErrorChar = dcb.fErrorChar ? parity.ReplaceChar() : 0;
  dcb.EvtChar = port.EventChar();
  return dcb;
}

// Signed values pass bit for bit: -1 is MAXDWORD.
COMMTIMEOUTS BuildTimeouts(const TComTimeouts& t) {
  return COMMTIMEOUTS{
      static_cast<DWORD>(t.ReadInterval()), static_cast<DWORD>(t.ReadTotalMultiplier()),
      static_cast<DWORD>(t.ReadTotalConstant()), static_cast<DWORD>(t.WriteTotalMultiplier()),
      static_cast<DWORD>(t.WriteTotalConstant())};
}

bool TCustomComPort::CanApply() const { return connected_ && updateCount_ == 0 && !loading_; }

void TCustomComPort::ApplySettings() {
  ApplyQueueSizes();
  ApplyLineControl();
  ApplyTimeoutValues();
}

void TCustomComPort::ApplyQueueSizes() {
  if (!CanApply()) return;
  // The sizes are advice: a driver that keeps its own queues (Wine's) refuses them with 50.
  if (!SetupComm(handle_, static_cast<DWORD>(buffer_.InputSize()),
                 static_cast<DWORD>(buffer_.OutputSize())) &&
      GetLastError() != ERROR_NOT_SUPPORTED) {
    throw EComPort(peSetupComm, LastError());
  }
}

void TCustomComPort::ApplyLineControl() {
  if (!CanApply()) return;
  DCB dcb = BuildDcb(*this);
  rtsHeldOn_ = false;
  if (SetCommState(handle_, &dcb)) return;
  // A driver without transmit-time RTS (Wine's) refuses the toggle with 50. RTS held on
  // still suits a converter that turns itself around; the owner can tell the user.
  if (GetLastError() == ERROR_NOT_SUPPORTED && dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    rtsHeldOn_ = SetCommState(handle_, &dcb);
    if (rtsHeldOn_) return;
  }
  throw EComPort(peSetCommState, LastError());
}

void TCustomComPort::ApplyTimeoutValues() {
  if (!CanApply()) return;
  COMMTIMEOUTS timeouts = BuildTimeouts(timeouts_);
  if (!SetCommTimeouts(handle_, &timeouts)) throw EComPort(peSetCommTimeouts, LastError());
}

int32_t TCustomComPort::InputQueueCount() {
  COMSTAT stat{};
  DWORD errors = 0;
  if (!ClearCommError(handle_, &errors, &stat)) throw EComPort(peClearCommError, LastError());
  return static_cast<int32_t>(stat.cbInQue);
}

TLineSignals TCustomComPort::LineSignals() {
  DWORD status = 0;
  if (!GetCommModemStatus(handle_, &status)) throw EComPort(peModemStatus, LastError());
  TLineSignals signals;
  for (TLineSignal s : {lsCTS, lsDSR, lsRing, lsRLSD}) {
    if (status & LineSignalBit(s)) signals.Include(s);
  }
  return signals;
}

TComErrors TCustomComPort::FetchLineErrors() {
  DWORD word = 0;
  if (!ClearCommError(handle_, &word, nullptr)) throw EComPort(peClearCommError, LastError());
  TComErrors errors;
  for (TComError e : {ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull}) {
    if (word & ErrorFlag(e)) errors.Include(e);
  }
  if (!parity_.Check()) errors.Exclude(ceRxParity);
  return errors;
}

}  // namespace cport
