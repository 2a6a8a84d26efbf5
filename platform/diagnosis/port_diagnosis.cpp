#include "platform/diagnosis/port_diagnosis.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/comm/network/network_port_name.h"
#include "platform/diagnosis/group_facts.h"
#include "platform/diagnosis/network_diagnosis.h"

namespace platform {
namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// Programs known to take serial adapters that are not theirs, and what to do about them.
std::string AdviceFor(const std::vector<std::string>& holders) {
  std::string advice;
  auto holds = [&](const char* program) {
    return std::any_of(holders.begin(), holders.end(),
                       [&](const std::string& holder) { return holder.rfind(program, 0) == 0; });
  };
  if (holds("ModemManager")) {
    advice +=
        " ModemManager opens new adapters to probe them for modems; stop it "
        "(sudo systemctl stop ModemManager) or tell it to leave the adapter alone.";
  }
  if (holds("brltty")) {
    advice +=
        " brltty takes some USB serial adapters for braille displays; remove it "
        "(sudo apt remove brltty) unless a braille display is in use.";
  }
  return advice.empty() ? " Close that program and try again." : advice;
}

std::string ExplainPermission(const std::string& path, const struct stat& st,
                              const DiagnosisSources& sources) {
  const GroupFacts group = FactsOfGroup(st.st_gid, sources);
  if (group.name.empty() || group.inSession) {
    return "You may not open " + path + ". Ask the machine's administrator for access.";
  }
  return ExplainMissingGroup(path, group.name, UserName(), group.inDatabase);
}

std::string ExplainMissing(const std::string& path, const std::vector<std::string>& known) {
  std::string text = path + " does not exist.";
  if (known.empty()) return text + " No serial port was found: is the adapter plugged in?";
  return text + " Serial ports on this machine: " + Joined(known) + ".";
}

// The first folder on the way that the user may not search.
std::string ExplainUnreachable(const std::string& path) {
  std::filesystem::path folder;
  for (const auto& part : std::filesystem::path(path).parent_path()) {
    folder /= part;
    if (access(folder.c_str(), X_OK) != 0) break;
  }
  return "You have no permission to reach " + path + ": the folder " + folder.string() +
         " may not be searched. Ask the machine's administrator for access.";
}

// A tty whose driver has lost its hardware (a pulled adapter not yet gone, a hung one)
// refuses to open with EIO, which is no business of another program.
bool DoesNotAnswer(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) close(fd);
  return fd < 0 && errno == EIO;
}

std::string ExplainAccessDenied(const std::string& path, const struct stat& st,
                                const DiagnosisSources& sources) {
  const auto holders = ProcessesHolding(path, sources.proc);
  if (!holders.empty()) {
    return path + " is in use by " + Joined(holders) + "." + AdviceFor(holders);
  }
  if (access(path.c_str(), R_OK | W_OK) != 0) return ExplainPermission(path, st, sources);
  if (DoesNotAnswer(path)) {
    return path +
           " does not answer (unplugged or hung): reconnect it, then press the "
           "settings button.";
  }
  return path + " is in use by another program." + AdviceFor({});
}

}  // namespace

std::string ExplainMissingGroup(const std::string& devicePath, const std::string& group,
                                const std::string& user, bool memberInDatabase) {
  if (memberInDatabase) {
    return "You are in the group '" + group + "' that may open " + devicePath +
           ", but this session started before you joined it: log out and in again.";
  }
  return "Only members of the group '" + group + "' may open " + devicePath +
         ". Join it (sudo adduser " + user + " " + group + "), then log out and in again.";
}

std::string ExplainOpenFailure(const std::string& devicePath, DWORD error,
                               const std::vector<std::string>& knownPorts,
                               const DiagnosisSources& sources) {
  if (IsNetworkPortName(devicePath)) return ExplainNetworkOpenFailure(devicePath, error);
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) {
    if (errno == EACCES) return ExplainUnreachable(devicePath);
    return ExplainMissing(devicePath, knownPorts);
  }
  if (error == ERROR_NOT_SUPPORTED) {
    return devicePath + " is not a serial port. Serial ports on this machine: " +
           (knownPorts.empty() ? std::string("none found") : Joined(knownPorts)) + ".";
  }
  if (error == ERROR_ACCESS_DENIED) return ExplainAccessDenied(devicePath, st, sources);
  return "Opening " + devicePath + " failed (win error code: " + std::to_string(error) + ").";
}

std::string ExplainLostPort(const std::string& devicePath, DWORD error) {
  if (IsNetworkPortName(devicePath)) return ExplainNetworkLoss(devicePath, error);
  std::error_code ignored;
  if (!std::filesystem::exists(devicePath, ignored)) {
    return devicePath +
           " went away: the adapter was unplugged or the instrument's end "
           "closed. Plug it back in and press the settings button.";
  }
  return devicePath + " stopped answering (win error code: " + std::to_string(error) +
         "). Check the cable, then press the settings button.";
}

std::vector<std::string> ProcessesHolding(const std::string& devicePath, const std::string& proc) {
  std::error_code error;
  const auto target = std::filesystem::canonical(devicePath, error);
  if (error) return {};
  const std::string self = std::to_string(getpid());
  std::vector<std::string> holders;
  for (const auto& process : std::filesystem::directory_iterator(proc, error)) {
    const std::string pid = process.path().filename().string();
    if (pid == self || !std::all_of(pid.begin(), pid.end(), ::isdigit)) continue;
    std::error_code unreadable;
    for (const auto& fd : std::filesystem::directory_iterator(process.path() / "fd", unreadable)) {
      std::error_code gone;
      if (std::filesystem::read_symlink(fd.path(), gone) != target) continue;
      std::string name;
      std::getline(std::ifstream(process.path() / "comm"), name);
      holders.push_back(name + " (" + pid + ")");
      break;
    }
  }
  return holders;
}

}  // namespace platform
