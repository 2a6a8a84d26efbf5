// Any byte stream cut into any deliveries, with the port opened again at some cuts: the
// console's assembler reads it as the framing rules read the whole stream byte by byte,
// and never holds more than a frame's worth.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>

#include "../app/frame_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string command = input.ConsumeRandomLengthString(8);
  console::model::Cuts cuts;
  for (int i = input.ConsumeIntegralInRange(0, 16); i > 0; --i) {
    cuts.at.push_back(input.ConsumeIntegralInRange<size_t>(0, 1 << 20));
    cuts.reopenAfter.push_back(input.ConsumeBool());
  }
  const std::string stream = input.ConsumeRemainingBytesAsString();
  for (size_t& cut : cuts.at) cut %= stream.size() + 1;
  std::sort(cuts.at.begin(), cuts.at.end());

  const std::string sent = std::string(1, console::FrameAssembler::STX) + command + "\r\n";
  if (console::model::Assembled(stream, cuts, command) !=
      console::model::ReferenceReading(stream, cuts, sent)) {
    std::abort();
  }
  console::FrameAssembler held;
  held.Deliver(stream, [](const console::FrameAssembler::Frame&) {});
  if (held.RxFrame().size() > console::FrameAssembler::kMaxFrame) std::abort();
  return 0;
}
