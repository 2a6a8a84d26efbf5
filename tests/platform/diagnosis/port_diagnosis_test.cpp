// The operator's explanations of a port that will not open, on real devices and on fake
// /proc trees.
#include "platform/diagnosis/port_diagnosis.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>

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

// Whichever of the holders grabs adapters, each gets its advice.
TEST(PortDiagnosis, ProgramsThatGrabAdaptersGetTheirOwnAdvice) {
  Pty pty;
  TempFolder proc;
  for (const auto& [pid, program] : {std::pair<const char*, const char*>{"4242", "ModemManager"},
                                     {"4343", "cat"},
                                     {"4444", "brltty"}}) {
    std::filesystem::create_directories(proc.Path() / pid / "fd");
    TempFolder::Write((proc.Path() / pid / "comm").string(), std::string(program) + "\n");
    std::filesystem::create_symlink(pty.Name(), proc.Path() / pid / "fd" / "7");
  }
  DiagnosisSources sources;
  sources.proc = proc.Path().string();
  const std::string why = ExplainOpenFailure(pty.Name(), ERROR_ACCESS_DENIED, {}, sources);
  EXPECT_THAT(why, HasSubstr("ModemManager (4242)"));
  EXPECT_THAT(why, HasSubstr("cat (4343)"));
  EXPECT_THAT(why, HasSubstr("systemctl stop"));
  EXPECT_THAT(why, HasSubstr("apt remove brltty"));
}

// Runs what as a user without privileges (nobody, when the tests run as root) and gives
// what it said: root may open and reach everything.
std::string AsUnprivileged(const std::function<std::string()>& what) {
  if (geteuid() != 0) return what();
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    const std::string text = what();
    const ssize_t written = write(out[1], text.data(), text.size());
    _exit(written == static_cast<ssize_t>(text.size()) ? 0 : 3);
  }
  close(out[1]);
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return text;
}

// A device only its group may open, the group being the user's primary one: the system is
// asked (its primary group counts, not only member lists), a group file is read as the
// system reads it (a malformed line is passed over), and whether this session holds the
// group decides between logging in again and asking the administrator.
TEST(PortDiagnosis, AMissingGroupIsAskedOfTheSystem) {
  const uid_t user = geteuid() == 0 ? 65534 : geteuid();
  const passwd* pw = getpwuid(user);
  ASSERT_NE(pw, nullptr);
  const gid_t primary = pw->pw_gid;
  const group* entry = getgrgid(primary);
  ASSERT_NE(entry, nullptr);
  const std::string primaryName = entry->gr_name;
  TempFolder folder;
  const std::string device = folder.File("ttyUSB0");
  TempFolder::Write(device, "");
  ASSERT_EQ(chown(device.c_str(), user, primary), 0);
  chmod(device.c_str(), 0060);  // the group may, its owner may not
  const std::string groupFile = folder.File("group");
  TempFolder::Write(groupFile, "bad:x:notanumber:\ndialout:x:" + std::to_string(primary) + ":\n");
  const std::string otherFile = folder.File("other-group");
  TempFolder::Write(otherFile, "other:x:4321:\n");
  struct Case {
    std::string file;
    std::optional<std::vector<unsigned>> session;
    std::string said;
  };
  const Case cases[] = {
      {"", std::vector<unsigned>{},
       "You are in the group '" + primaryName + "' that may open " + device +
           ", but this session started before you joined it: log out and in again."},
      {groupFile, std::vector<unsigned>{}, "You are in the group 'dialout'"},
      {"", std::vector<unsigned>{primary}, "Ask the machine's administrator for access."},
      {otherFile, std::vector<unsigned>{}, "Ask the machine's administrator for access."},
  };
  for (const Case& c : cases) {
    DiagnosisSources sources;
    sources.groupFile = c.file;
    sources.sessionGroups = c.session;
    EXPECT_THAT(AsUnprivileged(
                    [&] { return ExplainOpenFailure(device, ERROR_ACCESS_DENIED, {}, sources); }),
                HasSubstr(c.said))
        << c.file;
  }
}

// A pty that is still locked refuses to open with EIO, as a tty whose hardware is gone
// does; no other program is to blame.
TEST(PortDiagnosis, ADeviceThatDoesNotAnswerIsNotCalledInUse) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  const std::string slave = ptsname(master);
  EXPECT_EQ(ExplainOpenFailure(slave, ERROR_ACCESS_DENIED, {}),
            slave +
                " does not answer (unplugged or hung): reconnect it, then press the settings "
                "button.");
  close(master);
}

TEST(PortDiagnosis, AFolderThatMayNotBeSearchedIsNotAMissingDevice) {
  TempFolder folder;
  const std::string locked = folder.File("locked");
  std::filesystem::create_directory(locked);
  TempFolder::Write(locked + "/ttyUSB0", "");
  chmod(locked.c_str(), 0);
  const std::string why = AsUnprivileged(
      [&] { return ExplainOpenFailure(locked + "/ttyUSB0", ERROR_FILE_NOT_FOUND, {"COM1"}); });
  chmod(locked.c_str(), 0755);
  EXPECT_EQ(why, "You have no permission to reach " + locked + "/ttyUSB0: the folder " + locked +
                     " may not be searched. Ask the machine's administrator for access.");
}

}  // namespace
}  // namespace platform
