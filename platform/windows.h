#pragma once

// Everything the engine uses of the platform, under the names it has on Windows. There the
// system provides it, and this folder only what Windows lacks.
#include "platform/comm/comm.h"
#include "platform/sync/message_window.h"
#include "platform/win32_types.h"
#ifndef _WIN32
#include "platform/sync/events.h"
#include "platform/sync/handles.h"
#include "platform/sync/last_error.h"
#endif
