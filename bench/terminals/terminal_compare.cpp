// The console against the terminals a technician would pick instead, as that technician
// would run them: each program on a pty of its own under one X server, fed the same stream
// of frames, one program at a time, in interleaved rounds. Figures are of the program's
// process and of the X server, from /proc; whether the program kept up is judged by the
// line (the stream never waited, nothing left unread), by its window (the last frame is
// shown) and by its descriptors (it still holds the port).
//
//   terminal_compare [--seconds S] [--rounds N] [--rates R,R...] [--size WxH]
//                    [--only NAME,NAME...] [--console PATH] [--baseline PATH]
//
// NAME: console, cutecom, gtkterm; --console runs another build's console in place of this
// one's, and with --baseline another build's console runs in the same rounds as
// console@base.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "measurement.h"

namespace {

namespace fs = std::filesystem;
using terminals::Program;
using terminals::RunFigures;
using terminals::RunSettings;

struct Options {
  int seconds = 30;
  int rounds = 2;
  std::vector<int> rates = {1000, 5000};
  int width = 800;
  int height = 600;
  std::set<std::string> only;
  std::string console = CONSOLE_EXECUTABLE;
  std::string baseline;
};

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, ',');) parts.push_back(part);
  return parts;
}

int Positive(const std::string& text) { return std::max(1, std::atoi(text.c_str())); }

bool ParseOption(Options& o, const std::string& name, const std::string& value) {
  if (name == "--seconds") {
    o.seconds = Positive(value);
  } else if (name == "--rounds") {
    o.rounds = Positive(value);
  } else if (name == "--size") {
    return std::sscanf(value.c_str(), "%dx%d", &o.width, &o.height) == 2;
  } else if (name == "--console") {
    o.console = value;
  } else if (name == "--baseline") {
    o.baseline = value;
  } else if (name == "--only") {
    for (const auto& n : Split(value)) o.only.insert(n);
  } else if (name == "--rates") {
    o.rates.clear();
    for (const auto& r : Split(value)) o.rates.push_back(Positive(r));
  } else {
    return false;
  }
  return true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!ParseOption(o, argv[i], argv[i + 1])) return false;
  }
  return argc % 2 == 1;
}

std::vector<Program> ProgramsToRun(const Options& o) {
  std::vector<Program> all = {terminals::Console("console", o.console)};
  if (!o.baseline.empty()) all.push_back(terminals::Console("console@base", o.baseline));
  all.push_back(terminals::CuteCom());
  all.push_back(terminals::GtkTerm());
  std::vector<Program> chosen;
  for (auto& p : all) {
    if (o.only.empty() || o.only.count(p.name)) chosen.push_back(p);
  }
  return chosen;
}

using Key = std::pair<int, std::string>;  // rate, program
using Results = std::map<Key, std::vector<RunFigures>>;

double Percent(double cpu, const RunFigures& f) { return 100.0 * cpu / f.seconds; }

// "min–max" of a figure over the measured rounds, or "n/a" when none was measured.
template <typename Figure>
std::string Range(const std::vector<RunFigures>& runs, Figure figure, const char* format) {
  std::vector<double> values;
  for (const auto& f : runs) {
    if (f.failure.empty()) values.push_back(figure(f));
  }
  if (values.empty()) return "n/a";
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  char a[32], b[32];
  std::snprintf(a, sizeof a, format, *low);
  std::snprintf(b, sizeof b, format, *high);
  return std::string(a) == b ? a : std::string(a) + "–" + b;
}

// What fell short in one round; empty when the program kept up.
std::vector<std::string> Shortfalls(const RunFigures& f) {
  if (!f.failure.empty()) return {f.failure};
  std::vector<std::string> why;
  if (!f.heldPort) why.push_back("let go of the port");
  if (f.blocked) why.push_back("stream waited " + std::to_string(f.blocked) + "x");
  if (f.unread) why.push_back(std::to_string(f.unread) + " bytes unread");
  if (!f.lastFrameShown) why.push_back("last frame not shown");
  return why;
}

std::string KeptUp(const std::vector<RunFigures>& runs) {
  std::string text;
  for (size_t i = 0; i < runs.size(); ++i) {
    const std::vector<std::string> why = Shortfalls(runs[i]);
    if (why.empty()) continue;
    text += (text.empty() ? "NO: round " : "; round ") + std::to_string(i + 1) + ": " + why[0];
    for (size_t k = 1; k < why.size(); ++k) text += ", " + why[k];
  }
  return text.empty() ? "yes" : text;
}

void PrintCpuTable(const Options& o, const std::vector<Program>& programs, const Results& r) {
  std::printf("| frames/s |");
  for (const auto& p : programs) std::printf(" %s |", p.name.c_str());
  std::printf("\n|---:|");
  for (size_t i = 0; i < programs.size(); ++i) std::printf("---:|");
  std::printf("\n");
  for (int rate : o.rates) {
    std::printf("| %d |", rate);
    for (const auto& p : programs) {
      const auto& runs = r.at({rate, p.name});
      const std::string own = Range(
          runs, [](auto& f) { return Percent(f.cpuSeconds, f); }, "%.1f");
      const std::string x = Range(
          runs, [](auto& f) { return Percent(f.serverCpuSeconds, f); }, "%.1f");
      std::printf(" %s %% (X %s) |", own.c_str(), x.c_str());
    }
    std::printf("\n");
  }
}

void PrintDetailTable(const Options& o, const std::vector<Program>& programs, const Results& r) {
  std::printf(
      "| frames/s | program | us/frame, program + X | memory after, MiB | longest wait for "
      "an answer, ms | kept up |\n|---:|---|---:|---:|---:|---|\n");
  for (int rate : o.rates) {
    for (const auto& p : programs) {
      const auto& runs = r.at({rate, p.name});
      const std::string perFrame = Range(
          runs, [](auto& f) { return 1e6 * (f.cpuSeconds + f.serverCpuSeconds) / f.frames; },
          "%.1f");
      const std::string memory = Range(
          runs, [](auto& f) { return f.residentMiB; }, "%.0f");
      const std::string wait = Range(
          runs, [](auto& f) { return f.answers.longestMs; }, "%.0f");
      std::printf("| %d | %s | %s | %s | %s | %s |\n", rate, p.name.c_str(), perFrame.c_str(),
                  memory.c_str(), wait.c_str(), KeptUp(runs).c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: terminal_compare [--seconds S] [--rounds N] [--rates R,R] "
                 "[--size WxH] [--only NAME,NAME] [--console PATH] [--baseline PATH]\n");
    return 2;
  }
  terminals::XServer server;
  if (!server.Ready()) {
    std::fprintf(stderr, "Xvfb did not start\n");
    return 1;
  }
  terminals::XConnection screen(server.Name());
  const std::vector<Program> programs = ProgramsToRun(o);
  const fs::path scratch =
      fs::temp_directory_path() / ("terminal-compare-" + std::to_string(getpid()));
  Results results;
  for (int round = 1; round <= o.rounds; ++round) {
    for (int rate : o.rates) {
      for (const auto& p : programs) {
        const fs::path folder = scratch / (p.name + "-" + std::to_string(rate));
        fs::create_directories(folder);
        const RunSettings settings{rate, o.seconds, o.width, o.height};
        results[{rate, p.name}].push_back(
            terminals::MeasureProgram(p, server, screen, settings, folder));
        const RunFigures& f = results[{rate, p.name}].back();
        std::fprintf(stderr, "round %d: %s at %d frames/s: %s\n", round, p.name.c_str(), rate,
                     f.failure.empty() ? "measured" : f.failure.c_str());
        fs::remove_all(folder);
      }
    }
  }
  fs::remove_all(scratch);
  std::printf(
      "\n%d interleaved rounds of %d s per program and rate, one at a time under one Xvfb, "
      "windows %dx%d; CPU of the program's process and (X) of the X server, %% of one core, "
      "lowest-highest over the rounds\n\n",
      o.rounds, o.seconds, o.width, o.height);
  PrintCpuTable(o, programs, results);
  std::printf("\n");
  PrintDetailTable(o, programs, results);
  return 0;
}
