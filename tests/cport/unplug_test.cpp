// The far end pulled mid-stream, again and again in one process: each time one error,
// the port opens again, and nothing is left behind.
#include <fcntl.h>
#include <unistd.h>

#include "../process_entries.h"
#include "port_fixture.h"

namespace cport::testing {
namespace {

using testing_support::Entries;
using testing_support::ThreadsOnceReaped;

class Pty {
 public:
  Pty() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK)) {
    grantpt(master_);
    unlockpt(master_);
  }
  ~Pty() { Pull(); }
  std::string SlaveName() const { return ptsname(master_); }
  bool Stream() {
    const std::string frame =
        "\x02"
        "01SEQ,000001,ABCD\r\n";
    return write(master_, frame.data(), frame.size()) > 0;
  }
  void Pull() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_;
};

TEST(Unplug, AHundredPullsMidStreamEachGiveOneErrorAndLeaveNothingBehind) {
  constexpr int kRounds = 100;
  TComPort port;
  port.SetEvents(TComEvents::Full());
  size_t received = 0;
  int errors = 0;
  port.OnRxChar = [&](TObject*, int32_t count) {
    std::string bytes;
    received += static_cast<size_t>(port.ReadText(bytes, count));
  };
  port.OnEventThreadError = [&](TObject*, std::exception_ptr) { ++errors; };
  size_t fds = 0, threads = 0;
  for (int round = 0; round < kRounds; ++round) {
    // Counted after the first round: a sanitizer's runtime starts a thread of its own then.
    if (round == 1) {
      fds = Entries("/proc/self/fd");
      threads = Entries("/proc/self/task");
    }
    Pty pty;
    port.SetPort(pty.SlaveName());
    port.OpenPort();
    const size_t before = received;
    ASSERT_TRUE(pty.Stream());
    ASSERT_TRUE(platform::ServeMainThreadFor([&] { return received > before; }, 10s)) << round;
    pty.Stream();
    pty.Pull();
    ASSERT_TRUE(platform::ServeMainThreadFor([&] { return errors == round + 1; }, 10s)) << round;
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
  }
  EXPECT_EQ(errors, kRounds);
  EXPECT_EQ(Entries("/proc/self/fd"), fds) << "descriptors left behind";
  EXPECT_LE(ThreadsOnceReaped(threads), threads) << "threads left behind: not idle";
}

}  // namespace
}  // namespace cport::testing
