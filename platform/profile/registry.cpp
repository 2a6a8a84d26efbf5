#include "platform/profile/registry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/profile/ini_file.h"
#include "platform/profile/registry_path.h"

namespace platform {
namespace {

constexpr char kSection[] = "values";
constexpr char kStringTag[] = "sz:";
constexpr char kIntegerTag[] = "dword:";
// Closes a string value, so blanks at its end survive the profile's trimming.
constexpr char kStringEnd = '|';

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool MakeFolder(const std::string& folder) {
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool IsFolder(const std::string& folder) {
  struct stat st {};
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

std::string RegistryStore::RootFolder(RegistryRoot root) {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    base = "/tmp";
  }
  return base + "/comtest/registry/" +
         (root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER");
}

bool RegistryStore::OpenKey(const std::string& path, bool create) {
  openKey_.reset();
  bool valid = true;
  const std::vector<std::string> parts = SplitKeyPath(path, valid);
  if (!valid) return false;
  std::string folder = RootFolder(root_);
  if (create) {
    for (size_t pos = 1; pos <= folder.size(); ++pos) {
      if (pos == folder.size() || folder[pos] == '/') MakeFolder(folder.substr(0, pos));
    }
  }
  for (const std::string& part : parts) {
    folder += "/" + Lower(part);
    if (create) MakeFolder(folder);
  }
  if (!IsFolder(folder)) return false;
  openKey_ = folder;
  return true;
}

std::string RegistryStore::ValuesFile() const { return *openKey_ + "/values.ini"; }

void RegistryStore::WriteString(const std::string& name, const std::string& value) {
  if (!openKey_) throw RegistryError("Failed to set data for '" + name + "'");
  try {
    IniFile(ValuesFile()).WriteString(kSection, name, kStringTag + value + kStringEnd);
  } catch (const IniWriteError&) {
    throw RegistryError("Failed to set data for '" + name + "'");
  }
}

void RegistryStore::WriteInteger(const std::string& name, int32_t value) {
  if (!openKey_) throw RegistryError("Failed to set data for '" + name + "'");
  try {
    IniFile(ValuesFile()).WriteString(kSection, name, kIntegerTag + std::to_string(value));
  } catch (const IniWriteError&) {
    throw RegistryError("Failed to set data for '" + name + "'");
  }
}

std::optional<std::string> RegistryStore::Value(const std::string& name) const {
  if (!openKey_) return std::nullopt;
  const IniFile file(ValuesFile());
  if (!file.ValueExists(kSection, name)) return std::nullopt;
  return file.ReadString(kSection, name, "");
}

std::string RegistryStore::ReadString(const std::string& name) const {
  const std::optional<std::string> value = Value(name);
  if (!value) return {};
  if (!StartsWith(*value, kStringTag) || value->back() != kStringEnd) {
    throw RegistryError("Invalid data type for '" + name + "'");
  }
  return value->substr(sizeof kStringTag - 1, value->size() - sizeof kStringTag);
}

int32_t RegistryStore::ReadInteger(const std::string& name) const {
  const std::optional<std::string> value = Value(name);
  int32_t number = 0;
  if (!value || !StartsWith(*value, kIntegerTag) ||
      !ParseProfileInteger(value->substr(sizeof kIntegerTag - 1), number)) {
    throw RegistryError("Invalid data type for '" + name + "'");
  }
  return number;
}

}  // namespace platform
