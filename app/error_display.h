#pragma once

#include <exception>
#include <string>

namespace console {

// The general error display's text: a full stop is added when the message ends in a
// character that sorts after "." (letters, digits, Korean text), not after ")" and the like.
std::string ErrorDisplayText(const std::string& message);

// The general error display's box for an error, with details under it when given.
void ShowErrorBox(std::exception_ptr error, const std::string& details = "");

// Routes every error no handler caught to a message box with caption "통신Test", and lets
// the port's event threads reach the main thread through Qt's event loop.
void InstallApplicationHooks();

}  // namespace console
