#include "platform/diagnosis/port_diagnosis.h"

#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace platform {
namespace {

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// Programs known to take serial adapters that are not theirs, and what to do about them.
std::string AdviceFor(const std::string& holder) {
  if (holder.rfind("ModemManager", 0) == 0) {
    return " ModemManager opens new adapters to probe them for modems; stop it "
           "(sudo systemctl stop ModemManager) or tell it to leave the adapter alone.";
  }
  if (holder.rfind("brltty", 0) == 0) {
    return " brltty takes some USB serial adapters for braille displays; remove it "
           "(sudo apt remove brltty) unless a braille display is in use.";
  }
  return " Close that program and try again.";
}

struct GroupEntry {
  std::string name;
  gid_t gid = 0;
  std::vector<std::string> members;
};

// The group database as a file of name:password:gid:members lines.
bool FindGroup(const std::string& groupFile, gid_t gid, GroupEntry& entry) {
  std::ifstream in(groupFile);
  for (std::string line; std::getline(in, line);) {
    std::stringstream fields(line);
    std::string name, password, id, members;
    if (!std::getline(fields, name, ':') || !std::getline(fields, password, ':') ||
        !std::getline(fields, id, ':')) {
      continue;
    }
    std::getline(fields, members);
    if (id.empty() || static_cast<gid_t>(std::stoul(id)) != gid) continue;
    entry.name = name;
    entry.gid = gid;
    std::stringstream list(members);
    for (std::string m; std::getline(list, m, ',');) entry.members.push_back(m);
    return true;
  }
  return false;
}

std::string UserName() {
  const passwd* pw = getpwuid(getuid());
  return pw ? pw->pw_name : std::to_string(getuid());
}

bool ProcessHasGroup(gid_t gid) {
  if (getegid() == gid) return true;
  std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
  const int n = getgroups(static_cast<int>(groups.size()), groups.data());
  return std::find(groups.begin(), groups.begin() + std::max(n, 0), gid) != groups.end();
}

std::string ExplainPermission(const std::string& path, const struct stat& st,
                              const DiagnosisSources& sources) {
  GroupEntry group;
  if (!FindGroup(sources.groupFile, st.st_gid, group) || ProcessHasGroup(st.st_gid)) {
    return "You may not open " + path + ". Ask the machine's administrator for access.";
  }
  const std::string user = UserName();
  const bool member =
      std::find(group.members.begin(), group.members.end(), user) != group.members.end();
  return ExplainMissingGroup(path, group.name, user, member);
}

std::string ExplainMissing(const std::string& path, const std::vector<std::string>& known) {
  std::string text = path + " does not exist.";
  if (known.empty()) return text + " No serial port was found: is the adapter plugged in?";
  return text + " Serial ports on this machine: " + Joined(known) + ".";
}

std::string ExplainAccessDenied(const std::string& path, const struct stat& st,
                                const DiagnosisSources& sources) {
  const auto holders = ProcessesHolding(path, sources.proc);
  if (!holders.empty()) {
    return path + " is in use by " + Joined(holders) + "." + AdviceFor(holders.front());
  }
  if (access(path.c_str(), R_OK | W_OK) != 0) return ExplainPermission(path, st, sources);
  return path + " is in use by another program." + AdviceFor("");
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
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) return ExplainMissing(devicePath, knownPorts);
  if (error == ERROR_NOT_SUPPORTED) {
    return devicePath + " is not a serial port. Serial ports on this machine: " +
           (knownPorts.empty() ? std::string("none found") : Joined(knownPorts)) + ".";
  }
  if (error == ERROR_ACCESS_DENIED) return ExplainAccessDenied(devicePath, st, sources);
  return "Opening " + devicePath + " failed (win error code: " + std::to_string(error) + ").";
}

std::string ExplainLostPort(const std::string& devicePath, DWORD error) {
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
