#pragma once

#include <string>

namespace platform {

// Full path of the running executable; empty if the system does not tell.
std::string ExecutablePath();

}  // namespace platform
