// Any bytes to the simulator's command reader, in any pieces: commands come out of frames
// only, each bounded, and every one gets a reply.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

#include "protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  sim::FrameReader reader;
  sim::Instrument instrument;
  while (input.remaining_bytes() > 0) {
    const std::string piece = input.ConsumeRandomLengthString(64);
    for (const std::string& command : reader.Feed(piece.data(), piece.size())) {
      if (command.size() > 4096 || command.find('\n') != std::string::npos) std::abort();
      if (sim::Reply(instrument, command).empty()) std::abort();
    }
  }
  return 0;
}
