#include "protocol.h"

#include <cstdio>

namespace sim {

std::vector<std::string> FrameReader::Feed(const char* bytes, size_t count) {
  std::vector<std::string> commands;
  for (size_t i = 0; i < count; ++i) {
    const char c = bytes[i];
    if (c == STX) {
      inFrame_ = true;
      frame_.clear();
      continue;
    }
    if (!inFrame_) continue;
    if (c == LF) {
      if (!frame_.empty() && frame_.back() == CR) frame_.pop_back();
      commands.push_back(frame_);
      inFrame_ = false;
      continue;
    }
    frame_ += c;
    if (frame_.size() > kMaxFrame) inFrame_ = false;
  }
  return commands;
}

std::string Frame(const std::string& text) { return std::string(1, STX) + text + CR + LF; }

namespace {

std::string Tenths(int value) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d", value);
  return text;
}

}  // namespace

std::string Reply(const Instrument& instrument, const std::string& command) {
  if (command == "01WHO") return "01WHO,SIM-TC100,V1.0";
  if (command == "01DRS,01,0001") return "01DRS,OK," + Tenths(instrument.presentValue);
  if (command == "01DRS,01,0002") return "01DRS,OK," + Tenths(instrument.setValue);
  return "01NG,01";
}

uint16_t StreamChecksum(const std::string& text) {
  uint16_t sum = 0xFFFF;
  for (unsigned char c : text) sum = static_cast<uint16_t>((sum << 5) + (sum >> 11) + c);
  return sum;
}

std::string StreamText(uint32_t seq) {
  char head[32];
  std::snprintf(head, sizeof head, "01SEQ,%06u", seq);
  char sum[8];
  std::snprintf(sum, sizeof sum, ",%04X", StreamChecksum(head));
  return std::string(head) + sum;
}

}  // namespace sim
