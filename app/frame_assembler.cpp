#include "app/frame_assembler.h"

namespace console {
namespace {

// Where the bytes of a frame end: at its LF, or at an STX that starts the next one.
size_t FindEnd(std::string_view bytes, size_t from) {
  for (size_t i = from; i < bytes.size(); ++i) {
    if (bytes[i] == FrameAssembler::LF || bytes[i] == FrameAssembler::STX) return i;
  }
  return std::string_view::npos;
}

}  // namespace

const std::string& FrameAssembler::FrameCommand(const std::string& command) {
  lastSentFrame_ = std::string(1, STX) + command + CR + LF;
  return lastSentFrame_;
}

int FrameAssembler::RxState() const {
  if (!inside_) return 0;
  return rxFrame_.back() == CR ? 2 : 1;
}

void FrameAssembler::Deliver(std::string_view bytes, const Sink& sink) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    if (!inside_) {
      pos = bytes.find(STX, pos);
      if (pos == std::string_view::npos) return;
      inside_ = true;
    }
    pos = ScanFrame(bytes, pos, sink);
  }
}

void FrameAssembler::Restart(const Sink& sink) {
  if (inside_) CutOff(rxFrame_, sink);
  inside_ = false;
}

// The frame so far is rxFrame_ followed by the bytes from `from`; a frame wholly inside
// one delivery is handed on where it lies, without a copy. Gives where scanning goes on.
size_t FrameAssembler::ScanFrame(std::string_view bytes, size_t from, const Sink& sink) {
  const size_t stop = FindEnd(bytes, rxFrame_.empty() ? from + 1 : from);
  const size_t end = stop == std::string_view::npos ? bytes.size() : stop;
  if (rxFrame_.size() + (end - from) > kMaxFrame) {
    const size_t over = from + (kMaxFrame - rxFrame_.size());
    Drop();
    return over + 1;
  }
  if (stop == std::string_view::npos) return Keep(bytes, from);
  const size_t length = bytes[stop] == STX ? stop - from : stop + 1 - from;
  std::string_view frame = bytes.substr(from, length);
  if (!rxFrame_.empty()) frame = rxFrame_.append(frame);
  if (bytes[stop] == STX) {
    CutOff(frame, sink);
    inside_ = true;  // the STX that cut it starts the next frame
    return stop;
  }
  Complete(frame, sink);
  return stop + 1;
}

size_t FrameAssembler::Keep(std::string_view bytes, size_t from) {
  rxFrame_.append(bytes.substr(from));
  return bytes.size();
}

void FrameAssembler::Complete(std::string_view frame, const Sink& sink) {
  ++completed_;
  inside_ = false;
  if (frame != lastSentFrame_) {
    std::string_view payload = frame.substr(1, frame.size() - 2);
    if (!payload.empty() && payload.back() == CR) payload.remove_suffix(1);
    sink({frame, payload, false});
  }
  rxFrame_.clear();
}

void FrameAssembler::CutOff(std::string_view piece, const Sink& sink) {
  inside_ = false;
  sink({piece, {}, true});
  rxFrame_.clear();
}

void FrameAssembler::Drop() {
  inside_ = false;
  std::string().swap(rxFrame_);
}

}  // namespace console
