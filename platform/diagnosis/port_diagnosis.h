#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/win32_types.h"

namespace platform {

// Where the diagnosis looks; tests point it at trees and groups of their own.
struct DiagnosisSources {
  std::string proc = "/proc";
  // The group database: empty for the system's own (its group file and whatever else the
  // system draws groups from); a file is read as the system reads its group file.
  std::string groupFile;
  // The groups this session holds; unset for the process's own.
  std::optional<std::vector<unsigned>> sessionGroups;
};

// Why opening the device failed with the given Win32 code, in plain words and with what to
// do: it does not exist (and which ports do) or cannot be reached, permission (the device's
// group, and whether the user is not in it or only has to log in again), in use (by which
// program), the device does not answer, not a serial port. knownPorts are the machine's
// serial ports.
std::string ExplainOpenFailure(const std::string& devicePath, DWORD error,
                               const std::vector<std::string>& knownPorts,
                               const DiagnosisSources& sources = {});

// Why a port that was open stopped delivering.
std::string ExplainLostPort(const std::string& devicePath, DWORD error);

// The other processes that hold the device open, as "name (pid)".
std::vector<std::string> ProcessesHolding(const std::string& devicePath,
                                          const std::string& proc = "/proc");

// The text for a device whose group the user lacks: not a member at all, or a member
// since after this session started.
std::string ExplainMissingGroup(const std::string& devicePath, const std::string& group,
                                const std::string& user, bool memberInDatabase);

}  // namespace platform
