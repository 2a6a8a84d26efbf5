#include "app/frame_assembler.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "frame_model.h"

namespace console {
namespace {

using model::Cuts;
using model::Event;

const std::string STX = "\x02";

Event Rcv(const std::string& payload, const std::string& bytes) { return {false, bytes, payload}; }
Event Cut(const std::string& bytes) { return {true, bytes, ""}; }

// Deliveries as a technician meets them, and what each gives.
TEST(FrameAssembler, FramesAsTheyArrive) {
  struct Case {
    const char* what;
    std::vector<std::string> deliveries;
    std::vector<Event> events;
  };
  const std::string echo = STX + "01WHO\r\n";
  const std::vector<Case> cases = {
      {"CR LF", {STX + "AB\r\n"}, {Rcv("AB", STX + "AB\r\n")}},
      {"LF alone keeps the last byte", {STX + "01ABC\n"}, {Rcv("01ABC", STX + "01ABC\n")}},
      {"empty", {STX + "\r\n", STX + "\n"}, {Rcv("", STX + "\r\n"), Rcv("", STX + "\n")}},
      {"CR inside", {STX + "AB\rCD\r\n"}, {Rcv("AB\rCD", STX + "AB\rCD\r\n")}},
      {"split", {STX + "A", "B\r", "\n"}, {Rcv("AB", STX + "AB\r\n")}},
      {"echo hidden, case variant not",
       {echo, STX + "01who\r\n"},
       {Rcv("01who", STX + "01who\r\n")}},
      {"echo glued to the answer",
       {echo + STX + "01WHO,", "OK\r\n"},
       {Rcv("01WHO,OK", STX + "01WHO,OK\r\n")}},
      {"noise", {"\xFFnoise\r\n" + STX + "OK\r\nX"}, {Rcv("OK", STX + "OK\r\n")}},
      {"STX restarts", {STX + "junk" + echo}, {Cut(STX + "junk")}},
      {"STX restarts across deliveries",
       {STX + "ju", "nk", STX + "01REAL\r\n"},
       {Cut(STX + "junk"), Rcv("01REAL", STX + "01REAL\r\n")}},
  };
  for (const Case& c : cases) {
    FrameAssembler a;
    a.FrameCommand("01WHO");
    std::vector<Event> events;
    for (const std::string& d : c.deliveries) {
      a.Deliver(d, [&](const FrameAssembler::Frame& f) {
        events.push_back({f.cutOff, std::string(f.bytes), std::string(f.payload)});
      });
    }
    EXPECT_EQ(events, c.events) << c.what;
  }
}

TEST(FrameAssembler, OpeningThePortStartsAnEmptyFrame) {
  FrameAssembler a;
  std::vector<Event> events;
  const FrameAssembler::Sink sink = [&](const FrameAssembler::Frame& f) {
    events.push_back({f.cutOff, std::string(f.bytes), std::string(f.payload)});
  };
  a.Deliver(STX + "01HALF\r", sink);
  EXPECT_EQ(a.RxState(), 2);
  a.Restart(sink);
  EXPECT_EQ(a.RxState(), 0);
  a.Restart(sink);
  a.Deliver("\n" + STX + "01ECHO\r\n", sink);
  EXPECT_EQ(events, (std::vector<Event>{Cut(STX + "01HALF\r"), Rcv("01ECHO", STX + "01ECHO\r\n")}));
  EXPECT_EQ(a.FrameCommand("01WHO"), STX + "01WHO\r\n");
}

// A stream of what lines carry: answers with CR LF or LF alone, the echo, noise, frames an
// STX cuts short, CRs inside, now and then a frame past the limit.
std::string RandomStream(std::mt19937& random, const std::string& echo) {
  auto pick = [&](size_t n) { return random() % n; };
  auto text = [&](size_t n) {
    std::string s;
    while (s.size() < n) s += "0123456789ABC,\r"[pick(15)];
    return s;
  };
  auto noise = [&] {
    std::string s;
    for (size_t i = pick(5); i > 0; --i) s += static_cast<char>(random());
    return s;
  };
  const std::function<std::string()> tokens[] = {
      [&] { return echo; },
      [&] { return STX + text(pick(6)) + "\n"; },
      [&] { return STX + text(pick(6)); },
      noise,
      [&] { return pick(50) ? "" : STX + text(FrameAssembler::kMaxFrame - 2 + pick(4)); },
      [&] { return STX + text(pick(10)) + "\r\n"; },
      [&] { return STX + text(pick(10)) + "\r\n"; },
  };
  std::string stream;
  for (size_t n = pick(12); n > 0; --n) stream += tokens[pick(std::size(tokens))]();
  return stream;
}

Cuts RandomCuts(std::mt19937& random, size_t size) {
  Cuts cuts;
  for (int n = static_cast<int>(random() % 6); n > 0; --n) cuts.at.push_back(random() % (size + 1));
  std::sort(cuts.at.begin(), cuts.at.end());
  for (size_t i = 0; i < cuts.at.size(); ++i) cuts.reopenAfter.push_back(random() % 4 == 0);
  return cuts;
}

TEST(FrameAssembler, RandomStreamsCutAnywhereReadAsTheRulesSay) {
  std::mt19937 random(20251209);
  for (int round = 0; round < 3000; ++round) {
    const std::string command = round % 2 ? "01WHO" : "01A";
    const std::string stream = RandomStream(random, STX + command + "\r\n");
    const Cuts cuts = RandomCuts(random, stream.size());
    ASSERT_EQ(model::Assembled(stream, cuts, command),
              model::ReferenceReading(stream, cuts, STX + command + "\r\n"))
        << "round " << round;
  }
}

}  // namespace
}  // namespace console
