#include "app/frame_assembler.h"

namespace console {

const std::string& FrameAssembler::FrameCommand(const std::string& command) {
  lastSentFrame_ = std::string(1, STX) + command + CR + LF;
  return lastSentFrame_;
}

std::vector<std::string> FrameAssembler::Deliver(std::string_view bytes) {
  std::vector<std::string> payloads;
  for (const char b : bytes) {
    if (rxState_ == 0) {
      if (b != STX) continue;
      rxState_ = 1;
      rxFrame_.clear();
    }
    rxFrame_ += b;
    if (b == CR) rxState_ = 2;
    if (b == LF) {
      if (auto payload = CompleteFrame()) payloads.push_back(std::move(*payload));
    } else if (rxFrame_.size() > kMaxFrame) {
      DropFrame();
    }
  }
  return payloads;
}

// The payload is the frame without its STX and its last two bytes (CR and LF as sent).
std::optional<std::string> FrameAssembler::CompleteFrame() {
  rxState_ = 0;
  if (rxFrame_ == lastSentFrame_) return std::nullopt;
  rxFrame_ = rxFrame_.size() > 3 ? rxFrame_.substr(1, rxFrame_.size() - 3) : std::string();
  return rxFrame_;
}

void FrameAssembler::DropFrame() {
  rxState_ = 0;
  std::string().swap(rxFrame_);
}

}  // namespace console
