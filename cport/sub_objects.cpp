#include "cport/sub_objects.h"

#include <stdexcept>
#include <string>

#include "cport/comport.h"

namespace cport {
namespace {

template <typename T>
const T& Source(const T* source, const char* className) {
  if (!source) throw std::invalid_argument(std::string("Cannot assign a nil to a ") + className);
  return *source;
}

}  // namespace

template <typename T>
void TComParity::Change(T& field, T value) {
  if (field == value) return;
  field = value;
  if (port_) port_->ApplyLineControl();
}

void TComParity::SetBits(TParityBits value) { Change(bits_, value); }
void TComParity::SetCheck(bool value) { Change(check_, value); }
void TComParity::SetReplace(bool value) { Change(replace_, value); }
void TComParity::SetReplaceChar(char value) { Change(replaceChar_, value); }

void TComParity::Assign(const TComParity* source) {
  const TComParity& s = Source(source, "TComParity");
  bits_ = s.bits_;
  check_ = s.check_;
  replace_ = s.replace_;
  replaceChar_ = s.replaceChar_;
}

template <typename T>
void TComFlowControl::Change(T& field, T value) {
  if (field == value) return;
  field = value;
  Reapply();
}

void TComFlowControl::Reapply() {
  if (port_) port_->ApplyLineControl();
}

TFlowControl TComFlowControl::FlowControl() const { return DeriveFlowControl(fields_); }

void TComFlowControl::SetFlowControl(TFlowControl value) {
  WriteFlowControl(value, fields_);
  Reapply();
}

void TComFlowControl::SetOutCTSFlow(bool value) { Change(fields_.OutCTSFlow, value); }
void TComFlowControl::SetOutDSRFlow(bool value) { Change(outDSRFlow_, value); }
void TComFlowControl::SetControlDTR(TDTRFlowControl value) { Change(controlDTR_, value); }
void TComFlowControl::SetControlRTS(TRTSFlowControl value) { Change(fields_.ControlRTS, value); }
void TComFlowControl::SetXonXoffOut(bool value) { Change(fields_.XonXoffOut, value); }
void TComFlowControl::SetXonXoffIn(bool value) { Change(fields_.XonXoffIn, value); }
void TComFlowControl::SetDSRSensitivity(bool value) { Change(dsrSensitivity_, value); }
void TComFlowControl::SetTxContinueOnXoff(bool value) { Change(txContinueOnXoff_, value); }
void TComFlowControl::SetXonChar(char value) { Change(xonChar_, value); }
void TComFlowControl::SetXoffChar(char value) { Change(xoffChar_, value); }

void TComFlowControl::Assign(const TComFlowControl* source) {
  const TComFlowControl& s = Source(source, "TComFlowControl");
  TCustomComPort* port = port_;
  *this = s;
  port_ = port;
}

void TComTimeouts::Change(int32_t& field, int32_t value) {
  if (field == value) return;
  field = value;
  if (port_) port_->ApplyTimeoutValues();
}

void TComTimeouts::SetReadInterval(int32_t value) { Change(readInterval_, value); }
void TComTimeouts::SetReadTotalMultiplier(int32_t value) { Change(readTotalMultiplier_, value); }
void TComTimeouts::SetReadTotalConstant(int32_t value) { Change(readTotalConstant_, value); }
void TComTimeouts::SetWriteTotalMultiplier(int32_t value) { Change(writeTotalMultiplier_, value); }
void TComTimeouts::SetWriteTotalConstant(int32_t value) { Change(writeTotalConstant_, value); }

void TComTimeouts::Assign(const TComTimeouts* source) {
  const TComTimeouts& s = Source(source, "TComTimeouts");
  TCustomComPort* port = port_;
  *this = s;
  port_ = port;
}

// The equality test compares with the value the caller passed, before rounding.
void TComBuffer::Change(int32_t& field, int32_t value) {
  if (field == value) return;
  field = (value > 0 && value % 2 != 0) ? value - 1 : value;
  if (port_) port_->ApplyQueueSizes();
}

void TComBuffer::SetInputSize(int32_t value) { Change(inputSize_, value); }
void TComBuffer::SetOutputSize(int32_t value) { Change(outputSize_, value); }

void TComBuffer::Assign(const TComBuffer* source) {
  const TComBuffer& s = Source(source, "TComBuffer");
  inputSize_ = s.inputSize_;
  outputSize_ = s.outputSize_;
}

}  // namespace cport
