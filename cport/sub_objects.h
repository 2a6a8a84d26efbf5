#pragma once

#include <cstdint>

#include "cport/vocabulary.h"

namespace cport {

// The settings that belong together, owned by a port. A sub-object that belongs to a
// port asks it to re-apply its group after each effective change; a free-standing one
// (no port) only holds values to be copied into a port.
class TComParity {
 public:
  TParityBits Bits() const { return bits_; }
  bool Check() const { return check_; }
  bool Replace() const { return replace_; }
  char ReplaceChar() const { return replaceChar_; }
  void SetBits(TParityBits value);
  void SetCheck(bool value);
  void SetReplace(bool value);
  void SetReplaceChar(char value);

  // Copies every value, not the port; re-applies nothing. A missing source is an error.
  void Assign(const TComParity* source);
  void AttachTo(TCustomComPort* port) { port_ = port; }

 private:
  template <typename T>
  void Change(T& field, T value);

  TCustomComPort* port_ = nullptr;
  TParityBits bits_ = prNone;
  bool check_ = false;
  bool replace_ = false;
  char replaceChar_ = 0;
};

class TComFlowControl {
 public:
  TFlowControl FlowControl() const;
  bool OutCTSFlow() const { return fields_.OutCTSFlow; }
  bool OutDSRFlow() const { return outDSRFlow_; }
  TDTRFlowControl ControlDTR() const { return controlDTR_; }
  TRTSFlowControl ControlRTS() const { return fields_.ControlRTS; }
  bool XonXoffOut() const { return fields_.XonXoffOut; }
  bool XonXoffIn() const { return fields_.XonXoffIn; }
  bool DSRSensitivity() const { return dsrSensitivity_; }
  bool TxContinueOnXoff() const { return txContinueOnXoff_; }
  char XonChar() const { return xonChar_; }
  char XoffChar() const { return xoffChar_; }

  // Writes the preset into its four fields and always re-applies line control.
  void SetFlowControl(TFlowControl value);
  void SetOutCTSFlow(bool value);
  void SetOutDSRFlow(bool value);
  void SetControlDTR(TDTRFlowControl value);
  void SetControlRTS(TRTSFlowControl value);
  void SetXonXoffOut(bool value);
  void SetXonXoffIn(bool value);
  void SetDSRSensitivity(bool value);
  void SetTxContinueOnXoff(bool value);
  void SetXonChar(char value);
  void SetXoffChar(char value);

  void Assign(const TComFlowControl* source);
  void AttachTo(TCustomComPort* port) { port_ = port; }

 private:
  template <typename T>
  void Change(T& field, T value);
  void Reapply();

  TCustomComPort* port_ = nullptr;
  FlowControlFields fields_;
  bool outDSRFlow_ = false;
  TDTRFlowControl controlDTR_ = dtrDisable;
  bool dsrSensitivity_ = false;
  bool txContinueOnXoff_ = false;
  char xonChar_ = 17;
  char xoffChar_ = 19;
};

class TComTimeouts {
 public:
  int32_t ReadInterval() const { return readInterval_; }
  int32_t ReadTotalMultiplier() const { return readTotalMultiplier_; }
  int32_t ReadTotalConstant() const { return readTotalConstant_; }
  int32_t WriteTotalMultiplier() const { return writeTotalMultiplier_; }
  int32_t WriteTotalConstant() const { return writeTotalConstant_; }
  void SetReadInterval(int32_t value);
  void SetReadTotalMultiplier(int32_t value);
  void SetReadTotalConstant(int32_t value);
  void SetWriteTotalMultiplier(int32_t value);
  void SetWriteTotalConstant(int32_t value);

  void Assign(const TComTimeouts* source);
  void AttachTo(TCustomComPort* port) { port_ = port; }

 private:
  void Change(int32_t& field, int32_t value);

  TCustomComPort* port_ = nullptr;
  int32_t readInterval_ = -1;
  int32_t readTotalMultiplier_ = 0;
  int32_t readTotalConstant_ = 0;
  int32_t writeTotalMultiplier_ = 100;
  int32_t writeTotalConstant_ = 1000;
};

class TComBuffer {
 public:
  int32_t InputSize() const { return inputSize_; }
  int32_t OutputSize() const { return outputSize_; }
  // A positive odd size is stored one lower: drivers want even queue sizes.
  void SetInputSize(int32_t value);
  void SetOutputSize(int32_t value);

  void Assign(const TComBuffer* source);
  void AttachTo(TCustomComPort* port) { port_ = port; }

 private:
  void Change(int32_t& field, int32_t value);

  TCustomComPort* port_ = nullptr;
  int32_t inputSize_ = 1024;
  int32_t outputSize_ = 1024;
};

}  // namespace cport
