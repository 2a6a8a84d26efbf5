// The operator's explanations of a port that will not open, on real devices and on fake
// /proc trees.
#include "platform/diagnosis/port_diagnosis.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "../../temp_folder.h"

namespace platform {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using testing_support::TempFolder;

class Pty {
 public:
  Pty() { openpty(&master_, &slave_, name_, nullptr, nullptr); }
  ~Pty() {
    close(slave_);
    close(master_);
  }
  std::string Name() const { return name_; }

 private:
  int master_ = -1, slave_ = -1;
  char name_[256] = {};
};

TEST(PortDiagnosis, MissingDevicesAndWhatIsNoSerialPort) {
  EXPECT_EQ(ExplainOpenFailure("/dev/ttyUSB7", ERROR_FILE_NOT_FOUND, {"COM1", "ttyUSB0"}),
            "/dev/ttyUSB7 does not exist. Serial ports on this machine: COM1, ttyUSB0.");
  EXPECT_THAT(ExplainOpenFailure("/dev/ttyUSB7", ERROR_FILE_NOT_FOUND, {}),
              HasSubstr("is the adapter plugged in?"));
  EXPECT_THAT(ExplainOpenFailure("/dev/null", ERROR_NOT_SUPPORTED, {"COM1"}),
              HasSubstr("/dev/null is not a serial port"));
}

TEST(PortDiagnosis, AMissingGroupSaysWhetherToJoinOrToLogInAgain) {
  const std::string notMember = ExplainMissingGroup("/dev/ttyUSB0", "dialout", "tech", false);
  EXPECT_THAT(notMember, HasSubstr("sudo adduser tech dialout"));
  const std::string joinedLater = ExplainMissingGroup("/dev/ttyUSB0", "dialout", "tech", true);
  EXPECT_THAT(joinedLater, HasSubstr("log out and in again"));
  EXPECT_THAT(joinedLater, Not(HasSubstr("adduser")));
}

// A second process holds the port: it is named with its id.
TEST(PortDiagnosis, APortHeldByAnotherProcessNamesIt) {
  Pty pty;
  const int holder = open(pty.Name().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, holder, 5);
  char sleep[] = "sleep", seconds[] = "30";
  char* argv[] = {sleep, seconds, nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawnp(&pid, "sleep", &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(holder);
  // posix_spawn returns once the child runs sleep, holding the descriptor.
  const std::string held = "sleep (" + std::to_string(pid) + ")";
  EXPECT_EQ(ProcessesHolding(pty.Name()), std::vector<std::string>{held});
  EXPECT_THAT(ExplainOpenFailure(pty.Name(), ERROR_ACCESS_DENIED, {}),
              HasSubstr("is in use by " + held));
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(PortDiagnosis, ProgramsThatGrabAdaptersGetTheirOwnAdvice) {
  Pty pty;
  for (const std::string program : {"ModemManager", "brltty"}) {
    TempFolder proc;
    std::filesystem::create_directories(proc.Path() / "4242" / "fd");
    TempFolder::Write(proc.File("4242/comm"), program + "\n");
    std::filesystem::create_symlink(pty.Name(), proc.Path() / "4242" / "fd" / "7");
    DiagnosisSources sources;
    sources.proc = proc.Path().string();
    const std::string why = ExplainOpenFailure(pty.Name(), ERROR_ACCESS_DENIED, {}, sources);
    EXPECT_THAT(why, HasSubstr("in use by " + program + " (4242)"));
    EXPECT_THAT(why, HasSubstr(program == "brltty" ? "apt remove brltty" : "systemctl stop"));
  }
}

}  // namespace
}  // namespace platform
