#pragma once

#include <functional>

#include "platform/win32_types.h"

// A window that only receives messages, standing in for a hidden window of the GUI. Sent
// messages are run on the main thread through its call queue.
using WNDPROC = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

HWND CreateMessageWindow(WNDPROC procedure);
BOOL DestroyMessageWindow(HWND window);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL InSendMessage();
BOOL ReplyMessage(LRESULT result);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
