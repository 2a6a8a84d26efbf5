#pragma once

#include <functional>

#include "app/log_options.h"

class QMenu;
class QWidget;

namespace console {

// What the log's context menu does; the window carries it out.
struct LogMenuActions {
  std::function<void()> cut;
  std::function<void()> copy;
  std::function<void()> paste;
  std::function<void()> erase;
  std::function<void()> selectAll;
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

// What the log's edits can work on when the menu opens.
struct LogMenuState {
  bool picked = false;    // something is picked or selected in the log
  bool canPaste = false;  // the clipboard holds text
};

// The log's context menu: the edits, then the technician's switches, each action named
// ("cut", "timestamps", "control-marks", "record", ...) so that tests can find it.
QMenu* BuildLogMenu(QWidget* log, const LogMenuState& state, const LogOptions& options,
                    bool recording, bool polling, const LogMenuActions& actions);

}  // namespace console
