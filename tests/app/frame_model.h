#pragma once

// The framing rules read byte by byte, as plainly as they can be written, to hold the
// assembler against: one received stream, cut into deliveries and with the port opened
// again at some of the cuts, must give what this reading of the whole stream gives.
#include <optional>
#include <string>
#include <vector>

#include "app/frame_assembler.h"

namespace console::model {

struct Event {
  bool cutOff = false;
  std::string bytes;
  std::string payload;
  bool operator==(const Event&) const = default;
};

// Where the stream is cut into deliveries (sorted offsets), and after which cuts the port
// was opened again.
struct Cuts {
  std::vector<size_t> at;
  std::vector<bool> reopenAfter;
};

inline std::string Payload(const std::string& frame) {
  const bool crlf = frame.size() >= 3 && frame.compare(frame.size() - 2, 2, "\r\n") == 0;
  return frame.substr(1, frame.size() - (crlf ? 3 : 2));
}

inline std::vector<Event> ReferenceReading(const std::string& stream, const Cuts& cuts,
                                           const std::string& lastSent) {
  using A = FrameAssembler;
  std::vector<Event> events;
  std::optional<std::string> frame;
  size_t next = 0;
  for (size_t i = 0; i <= stream.size(); ++i) {
    for (; next < cuts.at.size() && cuts.at[next] == i; ++next) {
      if (cuts.reopenAfter[next] && frame) events.push_back({true, *frame, ""});
      if (cuts.reopenAfter[next]) frame.reset();
    }
    if (i == stream.size()) break;
    const char b = stream[i];
    if (b == A::STX) {
      if (frame) events.push_back({true, *frame, ""});
      frame = std::string(1, b);
    } else if (frame) {
      frame->push_back(b);
      if (b == A::LF) {
        if (*frame != lastSent) events.push_back({false, *frame, Payload(*frame)});
        frame.reset();
      } else if (frame->size() > A::kMaxFrame) {
        frame.reset();
      }
    }
  }
  return events;
}

inline std::vector<Event> Assembled(const std::string& stream, const Cuts& cuts,
                                    const std::string& command) {
  FrameAssembler assembler;
  assembler.FrameCommand(command);
  std::vector<Event> events;
  const FrameAssembler::Sink sink = [&](const FrameAssembler::Frame& f) {
    events.push_back({f.cutOff, std::string(f.bytes), std::string(f.payload)});
  };
  size_t from = 0;
  for (size_t i = 0; i < cuts.at.size(); ++i) {
    assembler.Deliver(std::string_view(stream).substr(from, cuts.at[i] - from), sink);
    from = cuts.at[i];
    if (cuts.reopenAfter[i]) assembler.Restart(sink);
  }
  assembler.Deliver(std::string_view(stream).substr(from), sink);
  return events;
}

}  // namespace console::model
