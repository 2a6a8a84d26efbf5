#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// A failed write of a profile file; the old file is left as it was.
class IniWriteError : public std::runtime_error {
 public:
  explicit IniWriteError(const std::string& path)
      : std::runtime_error("Unable to write to " + path) {}
};

// An INI profile file with Windows' profile semantics: sections and keys found without
// regard to ASCII letter case, blanks around keys and values ignored, the first of
// duplicate sections or keys wins, a missing file or section reads as empty. A write
// changes the key's line in place, adds a missing key at the end of its section and a
// missing section at the end of the file, and keeps every other byte; it replaces the
// file atomically. The file is read anew on every call, as the Windows services do.
class IniFile {
 public:
  explicit IniFile(std::string path) : path_(std::move(path)) {}

  const std::string& FileName() const { return path_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& defaultValue) const;
  // Decimal with an optional sign, or "0x" followed by hex digits; anything else, and a
  // number outside 32 bits, gives the default.
  int32_t ReadInteger(const std::string& section, const std::string& key,
                      int32_t defaultValue) const;
  bool ValueExists(const std::string& section, const std::string& key) const;
  // Why the file reads as empty and is never written, in a few plain words; empty for a
  // usable file or one that does not exist yet.
  std::string Problem() const;

  void WriteString(const std::string& section, const std::string& key, const std::string& value);
  void WriteInteger(const std::string& section, const std::string& key, int32_t value);

 private:
  std::string path_;
};

// The text of an integer as profile files hold it; false when it is no valid integer.
bool ParseProfileInteger(const std::string& text, int32_t& value);

// Replaces a file with the given bytes through a temporary file beside it, flushed and
// renamed over the old one. Throws IniWriteError and leaves the old file on failure.
void ReplaceFileAtomically(const std::string& path, const std::string& bytes);

}  // namespace platform
