#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace e2e {

// The instrument simulator as a separate process, ready once it said where it linked.
class SimulatorProcess {
 public:
  SimulatorProcess(const std::string& link, std::vector<std::string> options) {
    std::vector<std::string> args = {INSTRUMENT_SIM, "--link", link};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, INSTRUMENT_SIM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    ready_ = pid_ > 0 && WaitForLine(out[0]);
    close(out[0]);
  }
  ~SimulatorProcess() { Kill(SIGTERM); }

  bool Ready() const { return ready_; }

  void Kill(int signal) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  static bool WaitForLine(int fd) {
    std::string text;
    char buf[256];
    while (text.find('\n') == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) return false;
      text.append(buf, static_cast<size_t>(n));
    }
    return text.find("linked at") != std::string::npos;
  }

  pid_t pid_ = -1;
  bool ready_ = false;
};

}  // namespace e2e
