#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::telnet {

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kBreak = 243, kSe = 240;
constexpr uint8_t kBinary = 0, kEcho = 1, kSuppressGoAhead = 3, kComPortOption = 44;
// No answer of the COM port option is longer; anything longer is a server's mistake or an
// attack, and is dropped whole instead of being held.
constexpr size_t kMaxSubnegotiation = 64;

// What the server said besides data: an option negotiation (verb WILL/WONT/DO/DONT), a
// subnegotiation (its bytes unescaped, the option first), or a one-byte command.
struct Command {
  enum class Kind { Negotiation, Subnegotiation, Other };
  Kind kind;
  uint8_t verb = 0;
  uint8_t option = 0;
  std::vector<uint8_t> payload;
};

// Splits the stream from a telnet server into data and commands, wherever the reads cut
// it. A subnegotiation ends with IAC SE; an IAC with any other command inside one abandons
// it, so that a missing SE cannot swallow the stream beyond the next command.
class Decoder {
 public:
  // Decodes count bytes in place; returns how many data bytes remain at the front.
  size_t Decode(uint8_t* bytes, size_t count, std::vector<Command>& commands);

 private:
  enum class State { Data, Iac, Option, SbOption, SbData, SbIac };
  void AfterIac(uint8_t c, std::vector<Command>& commands);
  void InSubnegotiation(uint8_t c);
  void Keep(uint8_t c);
  void AfterSubnegotiationIac(uint8_t c, std::vector<Command>& commands);

  State state_ = State::Data;
  uint8_t verb_ = 0;
  Command sub_{Command::Kind::Subnegotiation, 0, 0, {}};
  bool tooLong_ = false;
};

// Data with every 0xFF doubled, appended to out.
void AppendEscaped(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out);
void AppendNegotiation(uint8_t verb, uint8_t option, std::vector<uint8_t>& out);
// IAC SB option payload IAC SE, the payload escaped.
void AppendSubnegotiation(uint8_t option, const std::vector<uint8_t>& payload,
                          std::vector<uint8_t>& out);

}  // namespace platform::telnet
