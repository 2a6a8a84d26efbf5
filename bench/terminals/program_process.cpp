#include "program_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace terminals {
namespace {

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (auto& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& variables) {
  std::vector<std::string> result;
  for (char** e = environ; *e; ++e) {
    const std::string name = NameOf(*e);
    const bool replaced = std::any_of(variables.begin(), variables.end(),
                                      [&](const std::string& v) { return NameOf(v) == name; });
    if (!replaced) result.emplace_back(*e);
  }
  result.insert(result.end(), variables.begin(), variables.end());
  return result;
}

ProgramProcess::ProgramProcess(const std::vector<std::string>& argv,
                               const std::vector<std::string>& variables,
                               const std::filesystem::path& output) {
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = EnvironmentWith(variables);
  std::vector<char*> argp = Pointers(args);
  std::vector<char*> envp = Pointers(environment);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  if (posix_spawnp(&pid_, argp[0], &actions, nullptr, argp.data(), envp.data()) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

ProgramProcess::~ProgramProcess() {
  End(std::chrono::seconds(5));
  if (pidfd_ >= 0) close(pidfd_);
}

bool ProgramProcess::Running() {
  if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;  // ended, and reaped now
  return pid_ > 0;
}

bool ProgramProcess::AwaitExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return true;
  if (!WaitForExit(limit)) return false;
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
  return true;
}

void ProgramProcess::End(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  if (AwaitExit(limit)) return;
  kill(pid_, SIGKILL);
  AwaitExit(std::chrono::seconds(10));
}

bool ProgramProcess::WaitForExit(std::chrono::milliseconds limit) {
  pollfd p{pidfd_, POLLIN, 0};
  return pidfd_ >= 0 && poll(&p, 1, static_cast<int>(limit.count())) > 0;
}

}  // namespace terminals
