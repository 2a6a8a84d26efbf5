#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "programs.h"
#include "window_pinger.h"
#include "x_display.h"

namespace terminals {

struct RunSettings {
  int rate = 1000;
  int seconds = 30;
  int width = 800;
  int height = 600;
};

// One program fed one stream, as the X server and /proc saw it.
struct RunFigures {
  std::string failure;  // why it could not be measured; empty when it was
  double seconds = 0;   // from the first frame until the figures were taken
  uint32_t frames = 0;
  double cpuSeconds = 0;
  double serverCpuSeconds = 0;
  double residentMiB = 0;
  WindowPinger::Answers answers;
  uint32_t blocked = 0;  // frames that found the line full when they were due
  size_t unread = 0;     // bytes the program had not read when the figures were taken
  bool lastFrameShown = false;
  bool heldPort = false;

  bool KeptUp() const { return blocked == 0 && unread == 0 && lastFrameShown && heldPort; }
};

// Starts the program in the folder on a fresh pty, opens its port, learns from its window
// how it draws the stream's last frame, feeds it the stream and takes the figures.
RunFigures MeasureProgram(const Program& program, const XServer& server, XConnection& screen,
                          const RunSettings& settings, const std::filesystem::path& folder);

}  // namespace terminals
