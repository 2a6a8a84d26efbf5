#include "platform/profile/registry_path.h"

namespace platform {

std::vector<std::string> SplitKeyPath(const std::string& path, bool& valid) {
  std::vector<std::string> parts;
  std::string part;
  valid = true;
  for (char c : path + "\\") {
    if (c != '\\') {
      part += c;
      continue;
    }
    if (part.empty()) continue;
    if (part == "." || part == ".." || part.find('/') != std::string::npos) valid = false;
    parts.push_back(part);
    part.clear();
  }
  return parts;
}

}  // namespace platform
