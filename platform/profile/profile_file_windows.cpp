#include <string>

#include "platform/profile/ini_file.h"
#include "platform/profile/profile_file.h"
#include "platform/win32_types.h"

namespace platform {
namespace {

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

std::string ReadWhole(HANDLE file, size_t size) {
  std::string bytes(size, '\0');
  size_t got = 0;
  while (got < size) {
    DWORD n = 0;
    if (!ReadFile(file, bytes.data() + got, static_cast<DWORD>(size - got), &n, nullptr) ||
        n == 0) {
      break;
    }
    got += n;
  }
  bytes.resize(got);
  return bytes;
}

bool WriteWhole(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                   nullptr) ||
        n == 0) {
      return false;
    }
    done += n;
  }
  return FlushFileBuffers(file) != 0;
}

}  // namespace

ProfileFileBytes ReadProfileFile(const std::string& path, size_t limit) {
  ProfileFileBytes result;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (!Missing(error)) result.problem = "it cannot be read (error " + std::to_string(error) + ")";
    return result;
  }
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
    result.problem = "it is not a regular file";
  } else if (static_cast<unsigned long long>(size.QuadPart) > limit) {
    result.problem = "it is larger than 64 MiB";
  } else {
    result.bytes = ReadWhole(file, static_cast<size_t>(size.QuadPart));
  }
  CloseHandle(file);
  return result;
}

// The new bytes go to a file beside the old one, which then replaces it in one step; a
// read-only file stays as it is.
void ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    throw IniWriteError(path);
  }
  const std::string temp = path + ".new";
  HANDLE file = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw IniWriteError(path);
  const bool written = WriteWhole(file, bytes);
  const bool closed = CloseHandle(file) != 0;
  if (!written || !closed ||
      !MoveFileExA(temp.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileA(temp.c_str());
    throw IniWriteError(path);
  }
}

}  // namespace platform
