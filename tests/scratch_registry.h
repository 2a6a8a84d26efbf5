#pragma once

#include <stdlib.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "platform/win32_types.h"
#include "temp_folder.h"

namespace testing_support {

// A registry a test may fill and leaves empty: on Linux the store's files go to a fresh
// folder; on Windows the keys the test names are removed from both roots before and after.
class ScratchRegistry {
 public:
  explicit ScratchRegistry(std::initializer_list<const char*> keys)
      : keys_(keys.begin(), keys.end()) {
#ifdef _WIN32
    RemoveKeys();
#else
    setenv("XDG_CONFIG_HOME", folder_.Path().c_str(), 1);
#endif
  }
  ~ScratchRegistry() {
#ifdef _WIN32
    RemoveKeys();
#else
    unsetenv("XDG_CONFIG_HOME");
#endif
  }
  const TempFolder& Folder() const { return folder_; }

 private:
#ifdef _WIN32
  void RemoveKeys() const {
    for (const std::string& key : keys_) {
      RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str());
      RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str());
    }
  }
#endif
  std::vector<std::string> keys_;
  TempFolder folder_;
};

}  // namespace testing_support
