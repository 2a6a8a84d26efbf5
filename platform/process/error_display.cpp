#include "platform/process/error_display.h"

#include <cstdio>
#include <mutex>

namespace platform {
namespace {

struct Display {
  std::mutex mutex;
  std::function<void(std::exception_ptr)> show;
};

Display& TheDisplay() {
  static Display* display = new Display;
  return *display;
}

void PrintToStderr(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "unknown error\n");
  }
}

}  // namespace

void SetErrorDisplay(std::function<void(std::exception_ptr)> display) {
  std::lock_guard lock(TheDisplay().mutex);
  TheDisplay().show = std::move(display);
}

void ShowError(std::exception_ptr error) {
  std::function<void(std::exception_ptr)> show;
  {
    std::lock_guard lock(TheDisplay().mutex);
    show = TheDisplay().show;
  }
  if (show) {
    show(error);
  } else {
    PrintToStderr(error);
  }
}

}  // namespace platform
