#pragma once

#include <string>

namespace console {

// Where Main.Ini lives: beside the executable when one is there that can be read (an
// administrator's read-only file among them), or when that folder can be written and is not
// an installed program's (a portable copy, the build folder); otherwise in the user's
// configuration folder ($XDG_CONFIG_HOME, else ~/.config; %APPDATA% on Windows) under the
// program's name, created on first use. An installed program is one with its desktop entry
// in the install tree (../share/applications): as root, writability alone would put
// settings into /usr/bin.
std::string SettingsFilePath(const std::string& exeFolder);

}  // namespace console
