#pragma once

// Everything the engine uses of the platform, under the names it has on Windows.
#include "platform/comm/comm.h"
#include "platform/sync/events.h"
#include "platform/sync/handles.h"
#include "platform/sync/last_error.h"
#include "platform/sync/message_window.h"
#include "platform/win32_types.h"
