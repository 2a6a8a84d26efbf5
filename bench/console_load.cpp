// The console's window under a steady stream from the simulator (1,000 frames/s for 60 s
// by default; --rate 0 --frames N for a stream at full speed): the longest time the window's event
// loop could not answer, the CPU the console process spends, and whether every frame reached the
// log.
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "../tests/e2e/simulator_process.h"
#include "app/error_display.h"
#include "app/func_p.h"
#include "app/log_writer.h"
#include "app/main_window.h"
#include "protocol.h"

namespace {

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

long ResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

int Arg(int argc, char** argv, const char* name, int fallback) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) == name) return std::atoi(argv[i + 1]);
  }
  return fallback;
}

// The payload of the newest log line.
std::string LastLine(const console::TVex_ComTestF& window) {
  const console::LogLines& lines = window.Log().Lines();
  if (lines.Count() == 0) return {};
  const std::string_view line = lines.Line(lines.Count() - 1);
  const size_t arrow = line.find("=> ");
  return std::string(arrow == std::string_view::npos ? line : line.substr(arrow + 3));
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = Arg(argc, argv, "--seconds", 60);
  const int rate = Arg(argc, argv, "--rate", 1000);
  const int frames = Arg(argc, argv, "--frames", seconds * rate);
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);

  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("comtest-load-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string link = (folder / "instrument").string();
  e2e::SimulatorProcess sim(link,
                            {"--stream", std::to_string(frames), "--rate", std::to_string(rate)});
  if (!sim.Ready()) return 1;
  {
    std::FILE* ini = std::fopen((folder / "Main.Ini").c_str(), "w");
    std::fprintf(ini, "[ComPort1]\nPort=%s\n", link.c_str());
    std::fclose(ini);
  }
  funcp::ExePath = folder.string() + "/";
  console::InstallApplicationHooks();
  funcp::SetMessageBoxHook([](const std::string& text, const std::string&, uint32_t, const std::string&) {
    std::fprintf(stderr, "message: %s\n", text.c_str());
    return funcp::IDOK;
  });
  console::TVex_ComTestF window;
  window.show();
  QApplication::processEvents();

  // A 10 ms tick: how late it comes is how long a key or click would have waited.
  QElapsedTimer clock;
  clock.start();
  qint64 lastTick = 0, longestStall = 0;
  QTimer tick;
  tick.setTimerType(Qt::PreciseTimer);
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longestStall = std::max(longestStall, now - lastTick - 10);
    lastTick = now;
  });
  tick.start(10);

  const std::string last = sim::StreamText(static_cast<uint32_t>(frames));
  const double cpu0 = CpuSeconds();
  window.EdtData()->setText(QStringLiteral("01STREAM"));
  window.BbtSend()->click();
  QTimer done;
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (LastLine(window) == last) app.quit();
    if (clock.elapsed() > (seconds + 300) * 1000) app.quit();
  });
  done.start(50);
  app.exec();
  window.Log().Flush();
  const double cpu = CpuSeconds() - cpu0;
  const double wall = static_cast<double>(clock.elapsed()) / 1000.0;
  const int lines = static_cast<int>(window.Log().Lines().Count());
  const int expectedLines = std::min(frames + 2, static_cast<int>(console::LogLines::kMaxLines));
  std::printf("console under %d frames at %d frames/s (0: full speed)\n", frames, rate);
  std::printf("  longest stall of the window   %lld ms\n", static_cast<long long>(longestStall));
  std::printf("  CPU of the console process    %.1f%% of a core (%.1f us per frame)\n",
              100.0 * cpu / wall, 1e6 * cpu / frames);
  std::printf("  log lines                     %d of %d expected, last frame %s\n", lines,
              expectedLines, LastLine(window) == last ? "seen" : "MISSING");
  std::printf("  peak resident memory          %ld MiB\n", ResidentKiB() / 1024);
  std::filesystem::remove_all(folder);
  return 0;
}
