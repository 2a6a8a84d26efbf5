#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "app/log_recorder.h"

namespace console {
namespace {

// Writes all of it, or gives the errno that stopped it.
int WriteAll(int fd, std::string_view line) {
  char lf = '\n';
  iovec parts[2] = {{const_cast<char*>(line.data()), line.size()}, {&lf, 1}};
  size_t left = line.size() + 1;
  while (left > 0) {
    const ssize_t n = writev(fd, parts, 2);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    left -= static_cast<size_t>(n);
    size_t skip = static_cast<size_t>(n);
    for (iovec& part : parts) {
      const size_t taken = std::min(part.iov_len, skip);
      part.iov_base = static_cast<char*>(part.iov_base) + taken;
      part.iov_len -= taken;
      skip -= taken;
    }
  }
  return 0;
}

}  // namespace

LogRecorder::~LogRecorder() { Stop(); }

bool LogRecorder::Start(const std::string& path, std::string& reason) {
  Stop();
  fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
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

// A file whose folder was taken away still takes writes that no one will ever read, so it
// is looked at before each line; a line cut short is taken back off the file's end.
bool LogRecorder::Write(std::string_view line, Failure& failure) {
  if (fd_ < 0) return true;
  struct stat st {};
  if (fstat(fd_, &st) == 0 && st.st_nlink == 0) {
    failure = {"the file was removed", true};
    Stop();
    return false;
  }
  if (const int error = WriteAll(fd_, line)) {
    if (ftruncate(fd_, st.st_size) != 0) {
      // The half line stays; the recording ends all the same.
    }
    failure = {std::strerror(error), false, st.st_size == 0};
    Stop();
    return false;
  }
  return true;
}

}  // namespace console
