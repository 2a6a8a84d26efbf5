#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace terminals {

// A program under test, started with the bench's environment plus its own variables; what
// it prints goes to a file in its folder.
class ProgramProcess {
 public:
  ProgramProcess(const std::vector<std::string>& argv, const std::vector<std::string>& variables,
                 const std::filesystem::path& output);
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;
  // Ends it if it is still running.
  ~ProgramProcess();

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  bool Running();
  // Whether it ended within the limit (after its window was asked to close, say).
  bool AwaitExit(std::chrono::milliseconds limit);
  // Sends SIGTERM and waits; SIGKILL after the limit.
  void End(std::chrono::milliseconds limit);

 private:
  bool WaitForExit(std::chrono::milliseconds limit);

  pid_t pid_ = -1;
  int pidfd_ = -1;
};

// The bench's environment with these NAME=value entries put in place of its own.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& variables);

}  // namespace terminals
