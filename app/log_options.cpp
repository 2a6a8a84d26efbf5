#include "app/log_options.h"

#include <array>
#include <cstdio>

#include "platform/profile/ini_file.h"

namespace console {
namespace {

constexpr std::array<const char*, 32> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};

const char* ControlBytesText(ControlBytes mode) {
  switch (mode) {
    case ControlBytes::Marks:
      return "marks";
    case ControlBytes::Hex:
      return "hex";
    case ControlBytes::AsReceived:
      break;
  }
  return "as received";
}

ControlBytes ControlBytesFromText(const std::string& text) {
  if (text == "marks") return ControlBytes::Marks;
  if (text == "hex") return ControlBytes::Hex;
  return ControlBytes::AsReceived;
}

std::string Visible(unsigned char c, ControlBytes mode) {
  if (mode == ControlBytes::Hex) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "<%02X>", c);
    return hex;
  }
  return std::string("<") + (c == 0x7F ? "DEL" : kControlNames[c]) + ">";
}

}  // namespace

LogOptions LoadLogOptions(const std::string& iniFile) {
  const platform::IniFile ini(iniFile);
  LogOptions options;
  options.timestamps = ini.ReadInteger(kOptionsSection, "Timestamps", 0) != 0;
  options.controlBytes = ControlBytesFromText(ini.ReadString(kOptionsSection, "ControlBytes", ""));
  options.recordFile = ini.ReadString(kOptionsSection, "RecordFile", "");
  const int interval = ini.ReadInteger(kOptionsSection, "PollIntervalMs", 1000);
  options.pollIntervalMs = interval > 0 ? interval : 1000;
  options.reconnect = ini.ReadInteger(kOptionsSection, "Reconnect", 0) != 0;
  return options;
}

void SaveLogOptions(const std::string& iniFile, const LogOptions& options) {
  platform::IniFile ini(iniFile);
  ini.WriteInteger(kOptionsSection, "Timestamps", options.timestamps ? 1 : 0);
  ini.WriteString(kOptionsSection, "ControlBytes", ControlBytesText(options.controlBytes));
  ini.WriteString(kOptionsSection, "RecordFile", options.recordFile);
  ini.WriteInteger(kOptionsSection, "PollIntervalMs", options.pollIntervalMs);
  ini.WriteInteger(kOptionsSection, "Reconnect", options.reconnect ? 1 : 0);
}

std::string FormatLogLine(const std::string& bytes, const LogOptions& options,
                          const std::string& timestamp) {
  std::string line = options.timestamps ? timestamp + " " : std::string();
  for (const char b : bytes) {
    const auto c = static_cast<unsigned char>(b);
    const bool control = c < 0x20 || c == 0x7F;
    if (control && options.controlBytes != ControlBytes::AsReceived) {
      line += Visible(c, options.controlBytes);
    } else {
      line += b;
    }
  }
  return line;
}

}  // namespace console
