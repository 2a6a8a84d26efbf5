#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/profile/ini_file.h"
#include "platform/profile/profile_file.h"

namespace platform {
namespace {

void ReadAll(int fd, size_t size, std::string& bytes) {
  bytes.resize(size);
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
}

// A link is written through to its target, which the rename replaces.
std::string WrittenPath(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_symlink(path, error)) return path;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  return error ? path : target.string();
}

// A file without write permission stays as it is, for its owner too (and for root), as a
// read-only file does on Windows.
bool WriteForbidden(const struct stat& st, const std::string& path) {
  return (st.st_mode & 0222) == 0 || access(path.c_str(), W_OK) != 0;
}

}  // namespace

ProfileFileBytes ReadProfileFile(const std::string& path, size_t limit) {
  ProfileFileBytes file;
  // Non-blocking, so that a FIFO in the file's place cannot hold the caller up.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      file.problem = std::string("it cannot be read: ") + std::strerror(errno);
    }
    return file;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    file.problem = "it is not a regular file";
  } else if (static_cast<size_t>(st.st_size) > limit) {
    file.problem = "it is larger than 64 MiB";
  } else {
    ReadAll(fd, static_cast<size_t>(st.st_size), file.bytes);
  }
  close(fd);
  return file;
}

void ReplaceFileAtomically(const std::string& name, const std::string& bytes) {
  const std::string path = WrittenPath(name);
  struct stat old {};
  const bool exists = stat(path.c_str(), &old) == 0;
  if (exists && WriteForbidden(old, path)) throw IniWriteError(name);
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) throw IniWriteError(name);
  if (exists) {
    fchmod(fd, old.st_mode & 07777);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = done == bytes.size() && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    throw IniWriteError(name);
  }
}

}  // namespace platform
