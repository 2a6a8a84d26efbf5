#pragma once

#include <exception>
#include <functional>

namespace platform {

// The application's general error display: whatever no handler caught ends up here. The
// console shows a message box; tests record.
void SetErrorDisplay(std::function<void(std::exception_ptr)> display);
void ShowError(std::exception_ptr error);

}  // namespace platform
