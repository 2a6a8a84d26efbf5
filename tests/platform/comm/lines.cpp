#include <cstdlib>
#include <sstream>

#include "far_end.h"

namespace platform::testing {

std::string LineName(const Line& line) {
  switch (line.kind) {
    case LineKind::Virtual:
      return "Virtual";
    case LineKind::Pty:
      return "Pty";
    case LineKind::Real:
      return line.device;
    case LineKind::Ser2net:
      return "Ser2net";
    case LineKind::Pyserial:
      return "Pyserial";
  }
  return "";
}

std::vector<Line> RealLines() {
  std::vector<Line> lines;
  const char* spec = std::getenv("COMTEST_REAL_LINES");
  std::stringstream pairs(spec ? spec : "");
  for (std::string pair; std::getline(pairs, pair, ',');) {
    const size_t colon = pair.find(':');
    if (colon != std::string::npos) {
      lines.push_back({LineKind::Real, pair.substr(0, colon), pair.substr(colon + 1)});
    }
  }
  return lines;
}

HANDLE OpenPort(const std::string& name, DWORD flags) {
  return CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

bool UnderWine() {
#ifdef _WIN32
  static const bool wine =
      GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
#else
  return false;
#endif
}

}  // namespace platform::testing
