#pragma once

#include <functional>

#include "app/log_options.h"

class QMenu;

namespace console {

class LogView;

// What the log's context menu does; the window carries it out.
struct LogMenuActions {
  std::function<void(bool)> setTimestamps;
  std::function<void(ControlBytes)> setControlBytes;
  std::function<void(bool)> setRecording;
  std::function<void()> copyAll;
  std::function<void()> saveAs;
  std::function<void(bool)> setPolling;
  std::function<void()> choosePollInterval;
  std::function<void(bool)> setReconnect;
  std::function<void(bool)> setNetworkPorts;
};

// The log's context menu: copying what is picked, then the technician's switches, each
// action named ("timestamps", "control-marks", "record", ...) so that tests can find it.
QMenu* BuildLogMenu(LogView* log, const LogOptions& options, bool recording, bool polling,
                    const LogMenuActions& actions);

}  // namespace console
