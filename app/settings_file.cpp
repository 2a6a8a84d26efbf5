#include "app/settings_file.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>

namespace console {
namespace {

constexpr char kProgram[] = "Vex_ComTest";
constexpr char kFileName[] = "Main.Ini";

bool IsInstalledProgramFolder(const std::filesystem::path& folder) {
  std::error_code error;
  const auto entry =
      folder.parent_path() / "share" / "applications" / (kProgram + std::string(".desktop"));
  return std::filesystem::exists(entry, error);
}

bool Writable(const std::filesystem::path& path) {
  return access(path.string().c_str(), W_OK) == 0;
}

bool Readable(const std::filesystem::path& path) {
  return access(path.string().c_str(), R_OK) == 0;
}

#ifdef _WIN32
std::filesystem::path ConfigurationFolder() {
  const char* appData = std::getenv("APPDATA");
  return std::filesystem::path(appData && *appData ? appData : ".") / kProgram;
}
#else
std::filesystem::path ConfigurationFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return std::filesystem::path(xdg) / kProgram;
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".config" / kProgram;
}
#endif

}  // namespace

std::string SettingsFilePath(const std::string& exeFolder) {
  std::filesystem::path folder = std::filesystem::path(exeFolder).lexically_normal();
  if (!folder.has_filename()) folder = folder.parent_path();
  const std::filesystem::path beside = folder / kFileName;
  std::error_code error;
  if (std::filesystem::exists(beside, error)) {
    if (Readable(beside) || Writable(beside)) return beside.string();
  } else if (Writable(folder) && !IsInstalledProgramFolder(folder)) {
    return beside.string();
  }
  const std::filesystem::path config = ConfigurationFolder();
  std::filesystem::create_directories(config, error);
  return (config / kFileName).string();
}

}  // namespace console
