#pragma once

#include <string>

namespace console {

// Records log lines to a file as they are logged, each written through at once, so that
// what was logged is on disk whatever happens next. A write that fails (a full disk, a
// folder taken away) ends the recording; what was written before stays.
class LogRecorder {
 public:
  ~LogRecorder();

  // Opens the file for appending; false, with the reason, when it cannot be.
  bool Start(const std::string& path, std::string& reason);
  void Stop();
  bool Recording() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }

  // False, with the reason, when the line could not be written; the recording has ended.
  bool Write(const std::string& line, std::string& reason);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace console
