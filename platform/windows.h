#pragma once

// Everything the engine uses of the platform, under the names it has on Windows.
#include "platform/comm.h"
#include "platform/events.h"
#include "platform/handles.h"
#include "platform/last_error.h"
#include "platform/message_window.h"
#include "platform/win32_types.h"
