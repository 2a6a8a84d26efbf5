#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#ifdef _WIN32
// Its macros of these names would replace the constants below, which have their values.
#include <windows.h>
#undef MB_ICONERROR
#undef MB_ICONWARNING
#undef IDOK
#endif

class QMessageBox;

// The application's small utilities.
namespace funcp {

// The folder of the running executable with its trailing separator; empty until set.
extern std::string ExePath;

// Sets ExePath from the executable's path the first time; later calls keep it.
void InitExePath();

// A modal message box owned by the application; returns the pressed button's identifier.
// Details, when given, are what the box shows under its "Show Details" button. While a box
// is up (its loop still serves the port and the timers), a second one is not shown: one
// trouble, one box.
int32_t ShowMessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                       const std::string& details = "");

// Closes the box that is up, if any, as if its OK button had been pressed.
void CloseMessageBox();

// The box ShowMessageBox shows, for a caller that renders it.
std::unique_ptr<QMessageBox> MakeMessageBox(const std::string& text, const std::string& caption,
                                            uint32_t flags, const std::string& details);

// Tests put a recorder here instead of a real box: text, caption, flags, details. The box
// counts as up while the hook runs.
using MessageBoxHook =
    std::function<int32_t(const std::string&, const std::string&, uint32_t, const std::string&)>;
void SetMessageBoxHook(MessageBoxHook hook);

// Reads a key; when it is missing or empty (or readFirst is false) writes the default and
// gives that.
void ReadIniOrDefault(bool readFirst, const std::string& fileName, const std::string& section,
                      const std::string& key, const std::string& defaultValue, std::string& value);

constexpr uint32_t MB_ICONERROR = 0x10;
constexpr uint32_t MB_ICONWARNING = 0x30;
constexpr int32_t IDOK = 1;

}  // namespace funcp
