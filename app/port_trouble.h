#pragma once

#include <exception>
#include <string>

namespace console {

// What the operator reads under a failure's box and in panel 0's tooltip: why the port
// would not open, or why it stopped delivering, in plain words and with what to do.
std::string WhyOpenFailed(const std::string& port, std::exception_ptr error);
std::string WhyPortWasLost(const std::string& port, std::exception_ptr error);

}  // namespace console
