#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace console {

// The line protocol: frames of STX, text, CR, LF in both directions. Received bytes are
// assembled across deliveries: a frame starts at an STX and completes at its LF, however
// the bytes were cut into deliveries; bytes outside a frame are noise. A byte-for-byte echo
// of the last frame sent is dropped, and so is a frame that grows past kMaxFrame bytes
// without its LF (a device that ends lines with CR alone, or garbage), so memory stays
// bounded whatever arrives.
class FrameAssembler {
 public:
  static constexpr char STX = 0x02;
  static constexpr char CR = 0x0D;
  static constexpr char LF = 0x0A;
  static constexpr size_t kMaxFrame = 64 * 1024;

  // Makes the frame for a command and remembers it as the last one sent.
  const std::string& FrameCommand(const std::string& command);
  // Scans one delivery; gives the payloads of the frames it completed, echoes left out.
  std::vector<std::string> Deliver(std::string_view bytes);

  const std::string& LastSentFrame() const { return lastSentFrame_; }
  const std::string& RxFrame() const { return rxFrame_; }
  int RxState() const { return rxState_; }

 private:
  std::optional<std::string> CompleteFrame();
  void DropFrame();

  std::string lastSentFrame_;
  std::string rxFrame_;
  int rxState_ = 0;  // 0 between frames, 1 inside one, 2 after its CR
};

}  // namespace console
