#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "app/log_recorder.h"

namespace console {

LogRecorder::~LogRecorder() { Stop(); }

bool LogRecorder::Start(const std::string& path, std::string& reason) {
  Stop();
  fd_ = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd_ < 0) {
    reason = std::strerror(errno);
    return false;
  }
  path_ = path;
  return true;
}

void LogRecorder::Stop() {
  if (fd_ >= 0) _close(fd_);
  fd_ = -1;
}

// Windows refuses to remove a file that is open, so only a failed write ends a recording;
// a line cut short is taken back off the file's end.
bool LogRecorder::Write(std::string_view line, Failure& failure) {
  if (fd_ < 0) return true;
  const __int64 before = _filelengthi64(fd_);
  std::string bytes(line);
  bytes += '\n';
  const int written = _write(fd_, bytes.data(), static_cast<unsigned>(bytes.size()));
  if (written == static_cast<int>(bytes.size())) return true;
  failure = {std::strerror(written < 0 ? errno : ENOSPC), false, before == 0};
  _chsize_s(fd_, before);
  Stop();
  return false;
}

}  // namespace console
