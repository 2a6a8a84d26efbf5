#pragma once

#include <string>

#include "platform/profile/ini_file.h"
#include "platform/profile/registry.h"

namespace cport {

using TIniFile = platform::IniFile;
using TRegistry = platform::RegistryStore;

// Chooses the root from the path's first segment and opens the rest of the path with the
// component name appended, creating it. A path without a backslash opens no key; one
// with nothing after its first backslash is an error.
void OpenSettingsKey(TRegistry& registry, const std::string& path, const std::string& name);

}  // namespace cport
