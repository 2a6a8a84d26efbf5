#pragma once

#include <functional>

#include "app/log_options.h"

class QMenu;
class QPlainTextEdit;

namespace console {

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
};

// The log's context menu: the editor's own entries, then the technician's switches, each
// action named ("timestamps", "control-marks", "record", ...) so that tests can find it.
QMenu* BuildLogMenu(QPlainTextEdit* log, const LogOptions& options, bool recording, bool polling,
                    const LogMenuActions& actions);

}  // namespace console
