#pragma once

#include <functional>

#include "platform/win32_types.h"

// A window that only receives messages, a hidden window of the GUI. On Windows it is a
// real message-only window whose procedure runs on the thread that created it; elsewhere
// sent messages are run on the main thread through its call queue.
using MessageProcedure = std::function<LRESULT(HWND, UINT, WPARAM, LPARAM)>;

HWND CreateMessageWindow(MessageProcedure procedure);
BOOL DestroyMessageWindow(HWND window);

#ifndef _WIN32
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL InSendMessage();
BOOL ReplyMessage(LRESULT result);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
#endif
