#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/comm/byte_line.h"
#include "platform/comm/network/com_port_option.h"
#include "platform/comm/network/telnet_codec.h"

namespace platform {

// The client's side of a telnet connection with the COM port option, without any I/O:
// server bytes go in, data comes out, and what the server must be told collects in the
// outbox. It asks for BINARY and SUPPRESS-GO-AHEAD both ways and for the COM port option,
// answers every other option with a refusal, and never answers a repeated request twice.
class ComPortClient {
 public:
  enum class Option { Asked, Accepted, Refused };

  ComPortClient();

  // Decodes server bytes in place; returns how many data bytes remain at the front.
  size_t Take(uint8_t* bytes, size_t count);
  std::vector<uint8_t>& Outbox() { return outbox_; }
  Option ComPort() const { return comPort_; }

  // Sends a setting and forgets any earlier answer to it.
  void Ask(const comport::Setting& setting);
  std::optional<uint32_t> AnswerTo(const comport::Setting& setting) const;
  // Commands whose answer nobody waits for: DTR, RTS, purge, flow control suspend/resume.
  void Tell(uint8_t command, uint8_t value);
  void Tell(uint8_t command);

  // MS_* bits from the last modem state the server reported.
  DWORD ModemStatus() const { return comport::ModemStatusOf(modemState_); }
  bool ModemStateSeen() const { return modemStateSeen_; }
  // Events and errors reported since the last call.
  LineStatus TakeNews(bool parityChecked);
  bool HasNews() const { return lineState_ != 0 || modemEvents_ != 0; }

 private:
  // One side's view of an option, after RFC 1143: a request of ours pending, or agreed.
  struct OptionState {
    bool enabled = false;
    bool pending = false;
  };

  void Request(OptionState& state, uint8_t verb, uint8_t option);
  void OnCommand(const telnet::Command& command);
  void OnNegotiation(uint8_t verb, uint8_t option);
  void Negotiate(OptionState& state, bool yes, bool wanted, uint8_t yesVerb, uint8_t noVerb,
                 uint8_t option);
  void Reply(uint8_t verb, uint8_t option);
  void UpdateComPort();
  void OnComPortAnswer(const std::vector<uint8_t>& payload);
  void OnModemState(uint8_t state);
  static size_t AnswerSlot(uint8_t command, uint32_t value);

  telnet::Decoder decoder_;
  std::vector<telnet::Command> commands_;
  std::vector<uint8_t> outbox_;
  Option comPort_ = Option::Asked;
  std::array<OptionState, 256> ours_{}, theirs_{};
  std::array<std::optional<uint32_t>, 8> answers_{};
  bool modemStateSeen_ = false;
  uint8_t modemState_ = 0;
  DWORD modemEvents_ = 0;
  uint8_t lineState_ = 0;
};

}  // namespace platform
