#include "app/frame_assembler.h"

namespace console {

const std::string& FrameAssembler::FrameCommand(const std::string& command) {
  lastSentFrame_ = std::string(1, STX) + command + CR + LF;
  return lastSentFrame_;
}

std::optional<std::string> FrameAssembler::Deliver(const std::string& bytes) {
  for (char b : bytes) {
    if (rxState_ == 0 && b == STX) {
      rxState_ = 1;
      rxFrame_.clear();
    }
    if (rxState_ == 0) continue;
    rxFrame_ += b;
    if (b == CR) rxState_ = 2;
    if (b == LF) rxState_ = 3;
  }
  if (rxState_ != 3) return std::nullopt;
  rxState_ = 0;
  if (rxFrame_ == lastSentFrame_) return std::nullopt;
  rxFrame_ = rxFrame_.size() > 3 ? rxFrame_.substr(1, rxFrame_.size() - 3) : std::string();
  return rxFrame_;
}

}  // namespace console
