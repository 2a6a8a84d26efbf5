#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace console {

// The technician's switches for the log, kept in Main.Ini's own "Console" section (never
// in "ComPort1"); all off by default, which is the log as specified.
enum class ControlBytes { AsReceived, Marks, Hex };

struct LogOptions {
  bool timestamps = false;
  ControlBytes controlBytes = ControlBytes::AsReceived;
  std::string recordFile;  // empty: not recording
  int pollIntervalMs = 1000;
  bool reconnect = false;
  bool networkPorts = false;               // offered in the setup dialog's port list
  std::vector<std::string> networkPortsUsed;  // the latest first
};

// How many network ports used before the list keeps.
constexpr size_t kNetworkPortsKept = 8;
// Puts a network port first among those used before, keeping at most kNetworkPortsKept.
void RememberNetworkPort(LogOptions& options, const std::string& port);

constexpr char kOptionsSection[] = "Console";

// Reading never writes; a file without the section gives the defaults.
LogOptions LoadLogOptions(const std::string& iniFile);
// Writes only what differs from the file, so a switch costs one rewrite of it. Raises
// IniWriteError when the file cannot be written.
void SaveLogOptions(const std::string& iniFile, const LogOptions& options);

// With control bytes shown, a line shows whole frames (STX, CR and LF too), so that a
// device that frames or terminates wrongly can be seen.
inline bool ShowsControlBytes(const LogOptions& options) {
  return options.controlBytes != ControlBytes::AsReceived;
}

// Makes `line` one log line as shown: the timestamp when asked for, the label, then the
// bytes with control bytes (below 0x20 and DEL) as marks such as <STX>, <CR> and <LF>, or
// as hex such as <02>. The line's room is reused from one line to the next.
void FormatLogLine(std::string& line, std::string_view label, std::string_view bytes,
                   const LogOptions& options, std::string_view timestamp);

}  // namespace console
