#pragma once

#include <string>
#include <vector>

namespace platform {

// The names of a key path ("Software\\Vendor\\Key"), empty ones left out. A name of "."
// or "..", or one holding a '/', makes the path invalid on every system, so a path that
// works on one works on all.
std::vector<std::string> SplitKeyPath(const std::string& path, bool& valid);

}  // namespace platform
