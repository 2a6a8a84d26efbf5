#include "app/frame_assembler.h"

namespace console {

const std::string& FrameAssembler::FrameCommand(const std::string& command) {
  lastSentFrame_ = std::string(1, STX) + command + CR + LF;
  return lastSentFrame_;
}

std::optional<std::string> FrameAssembler::Deliver(const std::string& bytes) {
  size_t nextFrame = std::string::npos;  // where an STX after the last LF begins a frame
  for (char b : bytes) {
    if (rxState_ == 0 && b == STX) {
      rxState_ = 1;
      rxFrame_.clear();
    }
    if (rxState_ == 0) continue;
    if (b == STX && rxState_ == 3 && nextFrame == std::string::npos) nextFrame = rxFrame_.size();
    rxFrame_ += b;
    if (b == CR) rxState_ = 2;
    if (b == LF) {
      rxState_ = 3;
      nextFrame = std::string::npos;
    }
  }
  if (rxState_ != 3) return std::nullopt;
  return CompleteFrame(nextFrame);
}

// A delivery that ends inside the next frame (a steady stream cut anywhere) completes the
// frame before that frame's STX and keeps the rest for the next delivery; otherwise every
// byte after the LF would be logged without its last two and the rest dropped as noise.
std::optional<std::string> FrameAssembler::CompleteFrame(size_t nextFrame) {
  std::string carried;
  if (nextFrame != std::string::npos) {
    carried = rxFrame_.substr(nextFrame);
    rxFrame_.erase(nextFrame);
  }
  rxState_ = 0;
  std::optional<std::string> payload;
  if (rxFrame_ != lastSentFrame_) {
    rxFrame_ = rxFrame_.size() > 3 ? rxFrame_.substr(1, rxFrame_.size() - 3) : std::string();
    payload = rxFrame_;
  }
  if (!carried.empty()) {
    rxFrame_ = carried;
    rxState_ = carried.find(CR) == std::string::npos ? 1 : 2;
  }
  return payload;
}

}  // namespace console
