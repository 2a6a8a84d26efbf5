#include <exception>

#include "platform/process/error_display.h"
#include "platform/sync/message_window.h"

namespace {

constexpr char kWindowClass[] = "ComTestMessageWindow";

MessageProcedure* ProcedureOf(HWND window) {
  return reinterpret_cast<MessageProcedure*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// No exception may cross the system's frames: what escapes a procedure is shown as any
// uncaught error is.
LRESULT CALLBACK Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MessageProcedure* procedure = ProcedureOf(window);
  if (!procedure) return DefWindowProcA(window, message, wParam, lParam);
  try {
    return (*procedure)(window, message, wParam, lParam);
  } catch (...) {
    platform::ShowError(std::current_exception());
    return 0;
  }
}

bool RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Dispatch;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassA(&windowClass) != 0;
  }();
  return registered;
}

}  // namespace

HWND CreateMessageWindow(MessageProcedure procedure) {
  if (!RegisterWindowClass()) return nullptr;
  HWND window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
  if (!window) return nullptr;
  SetWindowLongPtrA(window, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(new MessageProcedure(std::move(procedure))));
  return window;
}

BOOL DestroyMessageWindow(HWND window) {
  MessageProcedure* procedure = ProcedureOf(window);
  if (!DestroyWindow(window)) return FALSE;
  delete procedure;
  return TRUE;
}
