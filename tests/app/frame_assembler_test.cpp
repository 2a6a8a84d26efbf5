#include "app/frame_assembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace console {
namespace {

const std::string STX = "\x02";

// Feeds deliveries in order and collects what would be logged.
std::vector<std::string> Logged(FrameAssembler& a, const std::vector<std::string>& deliveries) {
  std::vector<std::string> lines;
  for (const auto& d : deliveries) {
    for (auto& payload : a.Deliver(d)) lines.push_back(payload);
  }
  return lines;
}

using Lines = std::vector<std::string>;

TEST(FrameAssembler, SendingFramesTheCommand) {
  FrameAssembler a;
  EXPECT_EQ(a.FrameCommand("01WHO"), STX + "01WHO\r\n");
  EXPECT_EQ(a.LastSentFrame().size(), 8u);
}

TEST(FrameAssembler, FramesInOneOrSeveralDeliveries) {
  FrameAssembler one, three;
  EXPECT_EQ(Logged(one, {STX + "AB\r\n"}), Lines{"AB"});
  EXPECT_EQ(Logged(three, {STX + "AB", "\r"}), Lines{});
  EXPECT_EQ(three.RxState(), 2);
  EXPECT_EQ(Logged(three, {"\n"}), Lines{"AB"});
  EXPECT_EQ(three.RxState(), 0);
}

TEST(FrameAssembler, TheEchoOfTheLastFrameIsDroppedButNotACaseVariant) {
  FrameAssembler a;
  a.FrameCommand("01WHO");
  EXPECT_EQ(Logged(a, {STX + "01WHO\r\n"}), Lines{});
  EXPECT_EQ(Logged(a, {STX + "01who\r\n"}), Lines{"01who"});
  EXPECT_EQ(Logged(a, {STX + "01W", "HO\r\n"}), Lines{}) << "split echoes are echoes too";
}

TEST(FrameAssembler, NoiseBeforeStxIsDropped) {
  FrameAssembler a;
  EXPECT_EQ(Logged(a, {"\xFFnoise\r\n" + STX + "OK\r\n"}), Lines{"OK"});
}

TEST(FrameAssembler, EveryFrameCompletesAtItsLf) {
  FrameAssembler twoFrames, trailing, noCr, empty, stxInside;
  EXPECT_EQ(Logged(twoFrames, {STX + "A\r\n" + STX + "B\r\n"}), (Lines{"A", "B"}));
  EXPECT_EQ(Logged(trailing, {STX + "A\r\nX"}), Lines{"A"});
  EXPECT_EQ(Logged(noCr, {STX + "AB\n"}), Lines{"A"});
  EXPECT_EQ(Logged(empty, {STX + "\r\n"}), Lines{""});
  EXPECT_EQ(Logged(stxInside, {STX + "A" + STX + "B\r\n"}), Lines{"A" + STX + "B"});
}

TEST(FrameAssembler, FramesCutAnywhereLoseNothing) {
  FrameAssembler a;
  EXPECT_EQ(Logged(a, {STX + "A\r\n" + STX + "B"}), Lines{"A"});
  EXPECT_EQ(a.RxFrame(), STX + "B");
  EXPECT_EQ(Logged(a, {"\r"}), Lines{});
  EXPECT_EQ(Logged(a, {"\n" + STX + "C\r"}), Lines{"B"});
  EXPECT_EQ(Logged(a, {"\n"}), Lines{"C"});

  FrameAssembler noisy;
  EXPECT_EQ(Logged(noisy, {STX + "A\r\nX" + STX + "B", "C\r\n"}), (Lines{"A", "BC"}));
}

// An RS-485 converter's echo and the answer often share one delivery.
TEST(FrameAssembler, TheEchoIsDroppedWhereverItsDeliveryEnds) {
  FrameAssembler glued, split;
  glued.FrameCommand("01WHO");
  EXPECT_EQ(Logged(glued, {STX + "01WHO\r\n" + STX + "01WHO,OK\r\n"}), Lines{"01WHO,OK"});
  split.FrameCommand("01WHO");
  EXPECT_EQ(Logged(split, {STX + "01WHO\r\n" + STX + "01WHO,", "OK\r\n"}), Lines{"01WHO,OK"});
}

TEST(FrameAssembler, AFrameWithoutItsLfIsDroppedPastTheLimit) {
  FrameAssembler a;
  const std::string garbage(FrameAssembler::kMaxFrame + 10, 'g');
  EXPECT_EQ(Logged(a, {STX + garbage, garbage + "\r\n", STX + "OK\r\n"}), Lines{"OK"});
  EXPECT_LE(a.RxFrame().capacity(), FrameAssembler::kMaxFrame + 1);
  const std::string longest(FrameAssembler::kMaxFrame - 3, 'x');
  EXPECT_EQ(Logged(a, {STX + longest + "\r\n"}), Lines{longest}) << "a frame at the limit stays";
}

TEST(FrameAssembler, AFrameCutAfterCrWaitsForItsLf) {
  FrameAssembler a;
  EXPECT_EQ(Logged(a, {STX + "X\r"}), Lines{});
  EXPECT_EQ(Logged(a, {"\n"}), Lines{"X"});
}

}  // namespace
}  // namespace console
