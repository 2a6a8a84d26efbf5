#include "platform/profile/registry.h"
#include "platform/profile/registry_path.h"
#include "platform/win32_types.h"

namespace platform {
namespace {

HKEY RootKey(RegistryRoot root) {
  return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// An open registry key, closed when it goes out of scope.
class Key {
 public:
  // Asks only for the access the call needs: a user may read the machine's keys.
  Key(RegistryRoot root, const std::string& path, REGSAM access, bool create = false) {
    const LSTATUS status = create ? RegCreateKeyExA(RootKey(root), path.c_str(), 0, nullptr, 0,
                                                    access, nullptr, &key_, nullptr)
                                  : RegOpenKeyExA(RootKey(root), path.c_str(), 0, access, &key_);
    if (status != ERROR_SUCCESS) key_ = nullptr;
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (key_) RegCloseKey(key_);
  }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

RegistryError SetFailure(const std::string& name) {
  return RegistryError("Failed to set data for '" + name + "'");
}
RegistryError TypeFailure(const std::string& name) {
  return RegistryError("Invalid data type for '" + name + "'");
}

}  // namespace

bool RegistryStore::OpenKey(const std::string& path, bool create) {
  openKey_.reset();
  bool valid = true;
  std::string joined;
  for (const std::string& part : SplitKeyPath(path, valid)) {
    joined += (joined.empty() ? "" : "\\") + part;
  }
  if (!valid || !Key(root_, joined, KEY_READ, create).Get()) return false;
  openKey_ = joined;
  return true;
}

void RegistryStore::WriteString(const std::string& name, const std::string& value) {
  if (!openKey_) throw SetFailure(name);
  const Key key(root_, *openKey_, KEY_SET_VALUE);
  if (!key.Get() || RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>(value.size() + 1)) != ERROR_SUCCESS) {
    throw SetFailure(name);
  }
}

void RegistryStore::WriteInteger(const std::string& name, int32_t value) {
  if (!openKey_) throw SetFailure(name);
  const Key key(root_, *openKey_, KEY_SET_VALUE);
  const DWORD data = static_cast<DWORD>(value);
  if (!key.Get() ||
      RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                     sizeof data) != ERROR_SUCCESS) {
    throw SetFailure(name);
  }
}

std::string RegistryStore::ReadString(const std::string& name) const {
  if (!openKey_) return {};
  const Key key(root_, *openKey_, KEY_QUERY_VALUE);
  DWORD type = 0, size = 0;
  if (!key.Get() ||
      RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
    return {};
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) throw TypeFailure(name);
  std::string value(size, '\0');
  if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS) {
    return {};
  }
  value.resize(size);
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

int32_t RegistryStore::ReadInteger(const std::string& name) const {
  DWORD type = 0, data = 0, size = sizeof data;
  if (openKey_) {
    const Key key(root_, *openKey_, KEY_QUERY_VALUE);
    if (key.Get() &&
        RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
      return static_cast<int32_t>(data);
    }
  }
  throw TypeFailure(name);
}

}  // namespace platform
