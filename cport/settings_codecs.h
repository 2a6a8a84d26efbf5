#pragma once

#include <string>

namespace cport {

// Value forms of stored settings.
std::string FlagToText(bool value);
bool FlagFromText(const std::string& text);
// Printable characters 33 to 127 stand for themselves; any other is "#" and its code.
std::string CharToText(char value);
// "#" and a decimal code (sign allowed, low 8 bits kept); otherwise the first character;
// the empty text and a bad number give character 0.
char CharFromText(const std::string& text);

}  // namespace cport
