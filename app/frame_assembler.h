#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace console {

// The line protocol: frames of STX, text, CR, LF in both directions. Received bytes are
// assembled across deliveries: a frame starts at an STX and completes at its LF, however
// the bytes were cut into deliveries; bytes outside a frame are noise. An STX inside an
// unfinished frame starts a new one, and so does opening the port: the unfinished bytes
// are a piece the device (or the cable) cut off. A byte-for-byte echo of the last frame
// sent is left out, and so is a frame that grows past kMaxFrame bytes without its LF
// (garbage, or a device that ends lines with CR alone), so memory stays bounded whatever
// arrives.
class FrameAssembler {
 public:
  static constexpr char STX = 0x02;
  static constexpr char CR = 0x0D;
  static constexpr char LF = 0x0A;
  static constexpr size_t kMaxFrame = 64 * 1024;

  // A whole frame from its STX to its LF, or a piece that was cut off (no payload). The
  // views last until the next call on the assembler.
  struct Frame {
    std::string_view bytes;
    std::string_view payload;  // without the STX and the CR LF, or the LF alone
    bool cutOff = false;
  };
  using Sink = std::function<void(const Frame&)>;

  // Makes the frame for a command and remembers it as the last one sent.
  const std::string& FrameCommand(const std::string& command);
  // Scans one delivery, in order: each frame it completed (echoes left out) and each
  // piece an STX cut off.
  void Deliver(std::string_view bytes, const Sink& sink);
  // The port was opened: an unfinished frame is a cut-off piece, and the next starts anew.
  void Restart(const Sink& sink);

  const std::string& LastSentFrame() const { return lastSentFrame_; }
  // The unfinished frame, from its STX on; empty between frames.
  const std::string& RxFrame() const { return rxFrame_; }
  // 0 between frames, 1 inside one, 2 inside one right after a CR.
  int RxState() const;
  // Frames completed so far, echoes included.
  uint64_t Completed() const { return completed_; }

 private:
  size_t ScanFrame(std::string_view bytes, size_t from, const Sink& sink);
  size_t Keep(std::string_view bytes, size_t from);
  void Complete(std::string_view frame, const Sink& sink);
  void CutOff(std::string_view piece, const Sink& sink);
  void Drop();

  std::string lastSentFrame_;
  std::string rxFrame_;
  bool inside_ = false;
  uint64_t completed_ = 0;
};

}  // namespace console
