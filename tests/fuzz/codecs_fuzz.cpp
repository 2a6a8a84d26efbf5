// Any text through the settings codecs and conversions: no crash, and whatever a text
// decodes to encodes to a text that decodes to the same value.
#include <cstdlib>
#include <string>

#include "cport/settings_codecs.h"
#include "cport/vocabulary.h"

namespace {

template <typename From, typename To>
void RoundTrip(const std::string& text, From from, To to) {
  const auto value = from(text);
  if (from(to(value)) != value) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  using namespace cport;
  RoundTrip(text, BaudRateFromText, BaudRateToText);
  RoundTrip(text, StopBitsFromText, StopBitsToText);
  RoundTrip(text, DataBitsFromText, DataBitsToText);
  RoundTrip(text, ParityFromText, ParityToText);
  RoundTrip(text, FlowControlFromText, FlowControlToText);
  RoundTrip(text, DTRControlFromText, DTRControlToText);
  RoundTrip(text, RTSControlFromText, RTSControlToText);
  RoundTrip(text, FlagFromText, FlagToText);
  RoundTrip(text, CharFromText, CharToText);
  const std::string upper = AsciiUpper(text);
  if (upper.size() != text.size() || AsciiUpper(upper) != upper) std::abort();
  for (size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (CharFromText(CharToText(c)) != c) std::abort();
  }
  return 0;
}
