#include "app/log_recorder.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>

namespace console {
namespace {

#ifdef _WIN32
constexpr int kOpenFlags = O_WRONLY | O_CREAT | O_APPEND | O_BINARY;
#else
constexpr int kOpenFlags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC;
#endif

}  // namespace

LogRecorder::~LogRecorder() { Stop(); }

bool LogRecorder::Start(const std::string& path, std::string& reason) {
  Stop();
  fd_ = open(path.c_str(), kOpenFlags, 0666);
  if (fd_ < 0) {
    reason = std::strerror(errno);
    return false;
  }
  path_ = path;
  return true;
}

void LogRecorder::Stop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool LogRecorder::Write(const std::string& line, std::string& reason) {
  if (fd_ < 0) return true;
  const std::string bytes = line + "\n";
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      reason = n < 0 ? std::strerror(errno) : "nothing could be written";
      Stop();
      return false;
    }
    done += static_cast<size_t>(n);
  }
  // A file whose folder was taken away still takes writes that no one will ever read.
  struct stat st {};
  if (fstat(fd_, &st) == 0 && st.st_nlink == 0) {
    reason = "the file was removed";
    Stop();
    return false;
  }
  return true;
}

}  // namespace console
