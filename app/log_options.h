#pragma once

#include <string>

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
};

constexpr char kOptionsSection[] = "Console";

// Reading never writes; a file without the section gives the defaults.
LogOptions LoadLogOptions(const std::string& iniFile);
// Raises IniWriteError when the file cannot be written.
void SaveLogOptions(const std::string& iniFile, const LogOptions& options);

// One log line as shown: control bytes (below 0x20 and DEL) as marks such as <STX>, <CR>
// and <LF>, or as hex such as <02>, and a timestamp before it when asked for.
std::string FormatLogLine(const std::string& bytes, const LogOptions& options,
                          const std::string& timestamp);

}  // namespace console
