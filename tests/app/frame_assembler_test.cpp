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
    if (auto payload = a.Deliver(d)) lines.push_back(*payload);
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

TEST(FrameAssembler, CompletionIsDecidedPerDelivery) {
  FrameAssembler twoFrames, trailing, noCr, empty, stxInside;
  EXPECT_EQ(Logged(twoFrames, {STX + "A\r\n" + STX + "B\r\n"}), Lines{"A\r\n" + STX + "B"});
  EXPECT_EQ(Logged(trailing, {STX + "A\r\nX"}), Lines{"A\r"});
  EXPECT_EQ(Logged(noCr, {STX + "AB\n"}), Lines{"A"});
  EXPECT_EQ(Logged(empty, {STX + "\r\n"}), Lines{""});
  EXPECT_EQ(Logged(stxInside, {STX + "A" + STX + "B\r\n"}), Lines{"A" + STX + "B"});
}

TEST(FrameAssembler, ADeliveryEndingInsideTheNextFrameLosesNothing) {
  FrameAssembler a;
  EXPECT_EQ(Logged(a, {STX + "A\r\n" + STX + "B"}), Lines{"A"});
  EXPECT_EQ(a.RxFrame(), STX + "B");
  EXPECT_EQ(Logged(a, {"\r"}), Lines{});
  EXPECT_EQ(Logged(a, {"\n" + STX + "C\r"}), Lines{}) << "a delivery ending after a CR waits";
  EXPECT_EQ(Logged(a, {"\n"}), Lines{"B\r\n" + STX + "C"});

  FrameAssembler noisy;
  EXPECT_EQ(Logged(noisy, {STX + "A\r\nX" + STX + "B", "C\r\n"}), (Lines{"A\r", "BC"}));

  FrameAssembler echo;
  echo.FrameCommand("01WHO");
  EXPECT_EQ(Logged(echo, {STX + "01WHO\r\n" + STX + "01WHO,", "OK\r\n"}), Lines{"01WHO,OK"});
}

TEST(FrameAssembler, AFrameCutAfterCrWaitsForItsLf) {
  FrameAssembler a;
  EXPECT_EQ(Logged(a, {STX + "X\r"}), Lines{});
  EXPECT_EQ(Logged(a, {"\n"}), Lines{"X"});
}

}  // namespace
}  // namespace console
