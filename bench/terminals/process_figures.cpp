#include "process_figures.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace terminals {
namespace {

std::filesystem::path ProcOf(pid_t pid) {
  return std::filesystem::path("/proc") / std::to_string(pid);
}

}  // namespace

// Fields 14 and 15 of stat, after the command name (which may hold spaces).
double CpuSeconds(pid_t pid) {
  std::ifstream file(ProcOf(pid) / "stat");
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');
  if (end == std::string::npos) return 0;
  std::istringstream fields(text.substr(end + 2));
  std::string skip;
  for (int field = 3; field < 14; ++field) fields >> skip;
  unsigned long long user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ResidentMiB(pid_t pid) {
  std::ifstream status(ProcOf(pid) / "status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

bool HoldsFile(pid_t pid, const std::string& path) {
  std::error_code error;
  for (const auto& fd : std::filesystem::directory_iterator(ProcOf(pid) / "fd", error)) {
    if (std::filesystem::read_symlink(fd.path(), error) == path) return true;
  }
  return false;
}

}  // namespace terminals
