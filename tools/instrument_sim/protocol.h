#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr char STX = 0x02;
constexpr char CR = 0x0D;
constexpr char LF = 0x0A;

// Cuts received bytes into commands: STX, text, CR, LF. Bytes outside a frame are dropped,
// and so is a frame that grows past a sane length.
class FrameReader {
 public:
  std::vector<std::string> Feed(const char* bytes, size_t count);

 private:
  static constexpr size_t kMaxFrame = 4096;
  std::string frame_;
  bool inFrame_ = false;
};

std::string Frame(const std::string& text);

struct Instrument {
  int presentValue = 250;  // tenths of a degree
  int setValue = 300;
};

// The reply text to one command, without framing.
std::string Reply(const Instrument& instrument, const std::string& command);

// The text of stream frame number seq: "01SEQ,<6 digits>,<4 hex digits of a checksum>".
std::string StreamText(uint32_t seq);
// The checksum that stream frames carry over their first part.
uint16_t StreamChecksum(const std::string& text);

}  // namespace sim
