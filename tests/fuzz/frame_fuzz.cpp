// Any byte stream cut into any deliveries: the console's assembler logs the same frames as
// when the stream comes whole, never more than one per LF, and holds a bounded frame.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/frame_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string command = input.ConsumeRandomLengthString(8);
  std::vector<size_t> cuts;
  for (int i = input.ConsumeIntegralInRange(0, 16); i > 0; --i) {
    cuts.push_back(input.ConsumeIntegralInRange<size_t>(0, 1 << 20));
  }
  const std::string stream = input.ConsumeRemainingBytesAsString();

  console::FrameAssembler whole, pieces;
  whole.FrameCommand(command);
  pieces.FrameCommand(command);
  const std::vector<std::string> expected = whole.Deliver(stream);

  std::vector<std::string> got;
  size_t pos = 0;
  for (size_t cut : cuts) {
    const size_t n = std::min(cut % (stream.size() + 1), stream.size() - pos);
    for (auto& payload : pieces.Deliver(std::string_view(stream).substr(pos, n))) {
      got.push_back(payload);
    }
    pos += n;
    if (pieces.RxFrame().size() > console::FrameAssembler::kMaxFrame) std::abort();
  }
  for (auto& payload : pieces.Deliver(std::string_view(stream).substr(pos))) got.push_back(payload);
  if (got != expected) std::abort();
  if (expected.size() > static_cast<size_t>(std::count(stream.begin(), stream.end(), '\n'))) {
    std::abort();
  }
  return 0;
}
