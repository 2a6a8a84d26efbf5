#pragma once

#include <string>
#include <string_view>

namespace console {

// Records log lines to a file as they are logged, each written through at once, so that
// what was logged is on disk whatever happens next. A write that fails (a full disk, a
// folder taken away) ends the recording; what was written before stays, and no part of
// the line that failed.
class LogRecorder {
 public:
  struct Failure {
    std::string reason;
    bool fileGone = false;  // the file was removed: nothing of it is left to read
    bool empty = false;     // nothing had been written to it
  };

  LogRecorder() = default;
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;
  ~LogRecorder();

  // Opens the file for appending; false, with the reason, when it cannot be.
  bool Start(const std::string& path, std::string& reason);
  void Stop();
  bool Recording() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // False, with why, when the line could not be written whole; the recording has ended.
  bool Write(std::string_view line, Failure& failure);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace console
