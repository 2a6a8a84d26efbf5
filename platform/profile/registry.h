#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace platform {

enum class RegistryRoot { CurrentUser, LocalMachine };

class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A store with the registry's shape: keys under two roots, created with their parents,
// holding string and 32-bit integer values. On Windows it is the system's registry. On
// Linux each key is a folder under the user's configuration folder ($XDG_CONFIG_HOME,
// else ~/.config, then "comtest/registry/<root>"), and its values live in one file
// written atomically.
// Key names are compared without regard to ASCII letter case, as in the registry.
class RegistryStore {
 public:
  explicit RegistryStore(RegistryRoot root = RegistryRoot::CurrentUser) : root_(root) {}

  RegistryRoot Root() const { return root_; }
  void SetRoot(RegistryRoot root) { root_ = root; }

  // Opens a key path ("Software\\Vendor\\Key"), creating it and its parents when asked.
  // Returns false and leaves no key open when it cannot.
  bool OpenKey(const std::string& path, bool create);
  void CloseKey() { openKey_.reset(); }
  bool HasOpenKey() const { return openKey_.has_value(); }

  // Writes fail (RegistryError) without an open key.
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  // A missing string reads as empty; a value of another type is an error.
  std::string ReadString(const std::string& name) const;
  // A missing value or one of another type is an error.
  int32_t ReadInteger(const std::string& name) const;

  // The folder that holds a root's keys.
  static std::string RootFolder(RegistryRoot root);

 private:
  std::optional<std::string> Value(const std::string& name) const;
  std::string ValuesFile() const;

  RegistryRoot root_;
  // The open key: its folder here, its path below the root on Windows.
  std::optional<std::string> openKey_;
};

}  // namespace platform
