#pragma once

#include <optional>
#include <string>

namespace console {

// The line protocol: frames of STX, text, CR, LF in both directions. Received bytes are
// assembled across deliveries; a frame completes when a delivery ends after an LF (bytes
// after that LF belong to it, up to an STX that starts the next frame), and a byte-for-byte
// echo of the last frame sent is dropped.
class FrameAssembler {
 public:
  static constexpr char STX = 0x02;
  static constexpr char CR = 0x0D;
  static constexpr char LF = 0x0A;

  // Makes the frame for a command and remembers it as the last one sent.
  const std::string& FrameCommand(const std::string& command);
  // Scans one delivery; gives the payload of a frame it completed, unless it was the echo.
  std::optional<std::string> Deliver(const std::string& bytes);

  const std::string& LastSentFrame() const { return lastSentFrame_; }
  const std::string& RxFrame() const { return rxFrame_; }
  int RxState() const { return rxState_; }

 private:
  std::optional<std::string> CompleteFrame(size_t nextFrame);

  std::string lastSentFrame_;
  std::string rxFrame_;
  int rxState_ = 0;
};

}  // namespace console
