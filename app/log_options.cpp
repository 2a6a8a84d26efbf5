#include "app/log_options.h"

#include <algorithm>
#include <array>

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

void AppendVisible(std::string& line, unsigned char c, ControlBytes mode) {
  if (mode == ControlBytes::Hex) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    const char hex[] = {'<', kDigits[c >> 4], kDigits[c & 0xF], '>'};
    line.append(hex, sizeof hex);
    return;
  }
  line += '<';
  line += c == 0x7F ? "DEL" : kControlNames[c];
  line += '>';
}

// Network port names hold no ';' (they are host:port), so one value keeps the list.
std::string JoinedPorts(const std::vector<std::string>& ports) {
  std::string text;
  for (const auto& port : ports) text += (text.empty() ? "" : ";") + port;
  return text;
}

std::vector<std::string> SplitPorts(const std::string& text) {
  std::vector<std::string> ports;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find(';', at), text.size());
    if (end > at && ports.size() < kNetworkPortsKept) ports.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return ports;
}

void WriteIfChanged(platform::IniFile& ini, const char* key, const std::string& value,
                    const std::string& stored) {
  if (value != stored) ini.WriteString(kOptionsSection, key, value);
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
  options.networkPorts = ini.ReadInteger(kOptionsSection, "NetworkPorts", 0) != 0;
  options.networkPortsUsed = SplitPorts(ini.ReadString(kOptionsSection, "NetworkPortsUsed", ""));
  return options;
}

void SaveLogOptions(const std::string& iniFile, const LogOptions& options) {
  platform::IniFile ini(iniFile);
  const LogOptions stored = LoadLogOptions(iniFile);
  auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
  WriteIfChanged(ini, "Timestamps", flag(options.timestamps), flag(stored.timestamps));
  WriteIfChanged(ini, "ControlBytes", ControlBytesText(options.controlBytes),
                 ControlBytesText(stored.controlBytes));
  WriteIfChanged(ini, "RecordFile", options.recordFile, stored.recordFile);
  WriteIfChanged(ini, "PollIntervalMs", std::to_string(options.pollIntervalMs),
                 std::to_string(stored.pollIntervalMs));
  WriteIfChanged(ini, "Reconnect", flag(options.reconnect), flag(stored.reconnect));
  WriteIfChanged(ini, "NetworkPorts", flag(options.networkPorts), flag(stored.networkPorts));
  WriteIfChanged(ini, "NetworkPortsUsed", JoinedPorts(options.networkPortsUsed),
                 JoinedPorts(stored.networkPortsUsed));
}

void RememberNetworkPort(LogOptions& options, const std::string& port) {
  auto& used = options.networkPortsUsed;
  used.erase(std::remove(used.begin(), used.end(), port), used.end());
  used.insert(used.begin(), port);
  if (used.size() > kNetworkPortsKept) used.resize(kNetworkPortsKept);
}

void FormatLogLine(std::string& line, std::string_view label, std::string_view bytes,
                   const LogOptions& options, std::string_view timestamp) {
  line.clear();
  if (options.timestamps) {
    line.append(timestamp);
    line += ' ';
  }
  line.append(label);
  if (!ShowsControlBytes(options)) {
    line.append(bytes);
    return;
  }
  for (const char b : bytes) {
    const auto c = static_cast<unsigned char>(b);
    if (c < 0x20 || c == 0x7F) {
      AppendVisible(line, c, options.controlBytes);
    } else {
      line += b;
    }
  }
}

}  // namespace console
