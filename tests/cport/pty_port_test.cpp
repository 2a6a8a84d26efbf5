// The engine on a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "port_fixture.h"

namespace cport::testing {
namespace {

class PortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    port_.SetPort(ptsname(master_));
  }
  void TearDown() override { close(master_); }

  std::string ReadMaster(size_t count) {
    std::string got;
    char buf[256];
    while (got.size() < count) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      const ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

  int master_ = -1;
  TComPort port_;
};

TEST_F(PortOnPty, ACommandGoesOutAndTheAnswerComesBackInBatches) {
  std::string got;
  int batches = 0;
  port_.OnRxChar = [&](TObject*, int32_t count) {
    std::string part;
    port_.ReadText(part, count);
    got += part;
    ++batches;
  };
  port_.OpenPort();
  port_.WriteText(
      "\x02"
      "01WHO\r\n");
  EXPECT_EQ(ReadMaster(8),
            "\x02"
            "01WHO\r\n");
  const std::string answer =
      "\x02"
      "01WHO,TC-100\r\n";
  ASSERT_EQ(write(master_, answer.data(), answer.size()), static_cast<ssize_t>(answer.size()));
  ASSERT_TRUE(platform::ServeMainThreadFor([&] { return got.size() == answer.size(); }, 10s));
  EXPECT_EQ(got, answer);
  EXPECT_LE(batches, static_cast<int>(answer.size()));
}

TEST_F(PortOnPty, ClosingWhileBytesStreamInNeitherDeadlocksNorLosesThePort) {
  size_t received = 0;
  port_.OnRxChar = [&](TObject*, int32_t count) {
    std::string part;
    received += static_cast<size_t>(port_.ReadText(part, count));
  };
  const std::string chunk(512, 'x');
  for (int round = 0; round < 20; ++round) {
    port_.OpenPort();
    for (int i = 0; i < 8; ++i) {
      if (write(master_, chunk.data(), chunk.size()) < 0) break;
    }
    platform::ServeMainThreadFor([&] { return received > 0; }, 10s);
    port_.ClosePort();
    EXPECT_FALSE(port_.Connected());
  }
  port_.OpenPort();
  EXPECT_TRUE(port_.Connected());
}

}  // namespace
}  // namespace cport::testing
