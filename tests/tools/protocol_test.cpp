#include "protocol.h"

#include <gtest/gtest.h>

namespace sim {
namespace {

TEST(SimulatorProtocol, CommandsAreCutFromFramesAndGarbageIsDropped) {
  FrameReader reader;
  const std::string bytes =
      "noise\r\n\x02"
      "01WHO\r\n\x02"
      "01DR";
  auto commands = reader.Feed(bytes.data(), bytes.size());
  EXPECT_EQ(commands, std::vector<std::string>{"01WHO"});
  commands = reader.Feed("S,01,0001\r\n", 11);
  EXPECT_EQ(commands, std::vector<std::string>{"01DRS,01,0001"});
  const std::string huge = "\x02" + std::string(10000, 'x') + "\r\n";
  EXPECT_TRUE(reader.Feed(huge.data(), huge.size()).empty());
}

TEST(SimulatorProtocol, RepliesAndStreamFrames) {
  Instrument instrument;
  EXPECT_EQ(Reply(instrument, "01WHO"), "01WHO,SIM-TC100,V1.0");
  EXPECT_EQ(Reply(instrument, "01DRS,01,0001"), "01DRS,OK,0250");
  EXPECT_EQ(Reply(instrument, "01DRS,01,0002"), "01DRS,OK,0300");
  EXPECT_EQ(Reply(instrument, "01who"), "01NG,01");
  const std::string text = StreamText(42);
  EXPECT_EQ(text.substr(0, 12), "01SEQ,000042");
  EXPECT_EQ(std::stoi(text.substr(13), nullptr, 16), StreamChecksum("01SEQ,000042"));
}

}  // namespace
}  // namespace sim
