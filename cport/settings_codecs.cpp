#include "cport/settings_codecs.h"

#include "cport/vocabulary.h"
#include "platform/profile/ini_file.h"

namespace cport {

std::string FlagToText(bool value) { return value ? "Yes" : "No"; }

bool FlagFromText(const std::string& text) { return AsciiUpper(text) == "YES"; }

std::string CharToText(char value) {
  const auto code = static_cast<unsigned char>(value);
  if (code >= 33 && code <= 127) return std::string(1, value);
  return "#" + std::to_string(code);
}

char CharFromText(const std::string& text) {
  if (text.empty()) return 0;
  if (text[0] != '#' || text.size() == 1) return text[0];
  int32_t code = 0;
  if (!platform::ParseProfileInteger(text.substr(1), code)) return 0;
  return static_cast<char>(static_cast<uint32_t>(code) & 0xFF);
}

}  // namespace cport
