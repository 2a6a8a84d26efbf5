#include "measurement.h"

#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "picture.h"
#include "process_figures.h"
#include "program_process.h"
#include "pty_line.h"

namespace terminals {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kStartLimit{20000};
constexpr milliseconds kPictureLimit{10000};
constexpr milliseconds kSampleInterval{100};
constexpr milliseconds kPingInterval{50};
// Figures are taken this long after the last frame, so the work it caused is in them.
constexpr milliseconds kTail{250};

std::vector<std::string> CommonVariables(const fs::path& folder, const std::string& display) {
  const fs::path runtime = folder / "run";
  fs::create_directories(runtime);
  chmod(runtime.c_str(), 0700);
  return {"DISPLAY=" + display,
          "HOME=" + folder.string(),
          "XDG_CONFIG_HOME=" + (folder / ".config").string(),
          "XDG_CACHE_HOME=" + (folder / ".cache").string(),
          "XDG_DATA_HOME=" + (folder / ".local/share").string(),
          "XDG_RUNTIME_DIR=" + runtime.string(),
          "QT_QPA_PLATFORM=xcb",
          "GDK_BACKEND=x11",
          "NO_AT_BRIDGE=1"};
}

// Types into the window that has the keyboard, as a person would (toolkits ignore keys
// sent to a window by another client).
bool TypeKeys(const std::string& display, const std::string& keys, const fs::path& folder) {
  ProgramProcess xdotool({"xdotool", "key", "--clearmodifiers", keys}, {"DISPLAY=" + display},
                         folder / "xdotool.txt");
  return xdotool.Started() && xdotool.AwaitExit(milliseconds(10000));
}

// The server tells nothing of what a client draws, so the window is sampled until two
// looks agree, and differ from what it showed before when that is given.
Picture SettledPicture(XConnection& screen, Window window, const Picture* before) {
  const auto deadline = Clock::now() + kPictureLimit;
  Picture last = screen.Capture(window);
  while (Clock::now() < deadline) {
    std::this_thread::sleep_for(kSampleInterval);
    Picture now = screen.Capture(window);
    if (now == last && (!before || now != *before)) return now;
    last = std::move(now);
  }
  return {};
}

bool WaitForBand(XConnection& screen, Window window, const Band& band) {
  const auto deadline = Clock::now() + kPictureLimit;
  while (!FindBandElsewhere(screen.Capture(window), band)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kSampleInterval);
  }
  return true;
}

struct Opened {
  Window window = 0;
  std::string failure;
};

Opened OpenPort(ProgramProcess& process, const ProgramSetUp& setUp, PtyLine& line,
                XConnection& screen, const std::string& display, const RunSettings& settings,
                const fs::path& folder) {
  Opened opened;
  if (!process.Started()) return {0, "did not start"};
  opened.window = screen.WaitForWindowOf(process.Pid(), kStartLimit);
  if (!opened.window) return {0, "showed no window"};
  screen.Place(opened.window, settings.width, settings.height);
  if (!setUp.openKeys.empty()) {
    screen.Focus(opened.window);
    if (!TypeKeys(display, setUp.openKeys, folder)) return {0, "xdotool failed"};
  }
  if (!line.WaitUntilHeldBy(process.Pid(), kStartLimit)) return {0, "did not open the port"};
  screen.DropFocus();
  return opened;
}

// Sends the stream's last frame once ahead of the stream: the rectangle that changes
// when it is drawn is what the window must show again at the end.
Band LastFrameBand(PtyLine& line, XConnection& screen, Window window, uint32_t last) {
  const Picture before = SettledPicture(screen, window, nullptr);
  if (before.Empty()) return {};
  line.Send(StreamFrame(last));
  const Picture after = SettledPicture(screen, window, &before);
  return after.Empty() ? Band{} : ChangedBand(before, after);
}

void FeedAndMeasure(ProgramProcess& process, PtyLine& line, const XServer& server, Window window,
                    const RunSettings& settings, RunFigures& f) {
  const double cpu = CpuSeconds(process.Pid()), serverCpu = CpuSeconds(server.Pid());
  const auto start = Clock::now();
  WindowPinger pinger(server.Name(), window, kPingInterval);
  const FeedReport feed =
      FeedStream(line, 1, static_cast<uint32_t>(settings.rate * settings.seconds), settings.rate);
  std::this_thread::sleep_for(kTail);
  f.answers = pinger.Stop();
  f.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  f.cpuSeconds = CpuSeconds(process.Pid()) - cpu;
  f.serverCpuSeconds = CpuSeconds(server.Pid()) - serverCpu;
  f.frames = feed.frames;
  f.blocked = feed.blocked;
  f.residentMiB = ResidentMiB(process.Pid());
  f.unread = line.Unread();
  f.heldPort = process.Running() && HoldsFile(process.Pid(), line.Port());
}

RunFigures Failed(std::string why) {
  RunFigures f;
  f.failure = std::move(why);
  return f;
}

}  // namespace

RunFigures MeasureProgram(const Program& program, const XServer& server, XConnection& screen,
                          const RunSettings& settings, const fs::path& folder) {
  RunFigures f;
  PtyLine line;
  if (!line.Ready()) return Failed("no pty");
  const ProgramSetUp setUp = program.setUp(folder, line.Port());
  std::vector<std::string> variables = CommonVariables(folder, server.Name());
  variables.insert(variables.end(), setUp.variables.begin(), setUp.variables.end());
  ProgramProcess process(setUp.argv, variables, folder / "output.txt");
  const Opened opened = OpenPort(process, setUp, line, screen, server.Name(), settings, folder);
  if (!opened.failure.empty()) return Failed(opened.failure);
  const uint32_t last = static_cast<uint32_t>(settings.rate * settings.seconds);
  const Band band = LastFrameBand(line, screen, opened.window, last);
  if (band.Empty()) return Failed("drew nothing for a frame");
  FeedAndMeasure(process, line, server, opened.window, settings, f);
  f.lastFrameShown = WaitForBand(screen, opened.window, band);
  screen.AskToClose(opened.window);
  if (!process.AwaitExit(milliseconds(5000))) process.End(milliseconds(5000));
  return f;
}

}  // namespace terminals
