// What only a real pseudo-terminal shows: the termios a DCB produces, and opening rules.
#include <asm/termbits.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "far_end.h"
#include "platform/comm/posix_termios.h"

namespace platform::testing {
namespace {

class PtyLine : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master_, 0);
    ASSERT_EQ(grantpt(master_), 0);
    ASSERT_EQ(unlockpt(master_), 0);
    name_ = ptsname(master_);
  }
  void TearDown() override { close(master_); }

  // Termios ioctls on a pty master act on its slave.
  termios2 SlaveTermios() const {
    termios2 t{};
    EXPECT_EQ(ioctl(master_, TCGETS2, &t), 0);
    return t;
  }

  static DCB Dcb(DWORD baud) { return PlainDcb(baud); }

  int master_ = -1;
  std::string name_;
};

TEST(DcbTermios, CharacterFormatsAndFlowControl) {
  const termios2 current{};
  DCB dcb{};
  dcb.BaudRate = 128000;
  dcb.ByteSize = 5;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = ONE5STOPBITS;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fParity = 1;
  dcb.XonChar = 1;
  dcb.XoffChar = 2;
  termios2 t = TermiosForDcb(dcb, current);
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS5});
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t{PARENB});
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & INPCK);
  EXPECT_EQ(t.c_cflag & CBAUD, tcflag_t{BOTHER});
  EXPECT_EQ(t.c_ispeed, 128000u);
  EXPECT_EQ(t.c_cc[VSTART], 1);
  EXPECT_EQ(t.c_cc[VSTOP], 2);
  EXPECT_EQ(t.c_cc[VMIN], 1);

  dcb.ByteSize = 6;
  dcb.Parity = ODDPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fRtsControl = RTS_CONTROL_TOGGLE;
  t = TermiosForDcb(dcb, current);
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t{CS6});
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t{PARENB | PARODD});
  EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
}

// A pty keeps speed, stop bits, flow control and the parity kind, but forces CS8 without
// PARENB; the rest of the character format is checked above.
TEST_F(PtyLine, TheDcbBecomesRawTermios) {
  HANDLE port = OpenPort(name_);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb = Dcb(14400);
  dcb.ByteSize = 7;
  dcb.Parity = MARKPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fOutxCtsFlow = 1;
  dcb.fOutX = 1;
  ASSERT_TRUE(SetCommState(port, &dcb));
  termios2 t = SlaveTermios();
  EXPECT_EQ(t.c_ospeed, 14400u);
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), tcflag_t{PARODD | CMSPAR});
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_TRUE(t.c_iflag & IXON);
  EXPECT_FALSE(t.c_iflag & (IXANY | IXOFF | ICRNL));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);

  dcb = Dcb(250000);
  dcb.Parity = SPACEPARITY;
  ASSERT_TRUE(SetCommState(port, &dcb));
  t = SlaveTermios();
  EXPECT_EQ(t.c_ospeed, 250000u);
  EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), tcflag_t{CMSPAR});
  EXPECT_FALSE(t.c_cflag & CRTSCTS);

  // Linux has no DSR/DTR handshake: refused, and the line keeps what it had.
  DCB dsrFlow = Dcb(9600);
  dsrFlow.fOutxDsrFlow = 1;
  DCB dtrHandshake = Dcb(9600);
  dtrHandshake.fDtrControl = DTR_CONTROL_HANDSHAKE;
  for (DCB* refused : {&dsrFlow, &dtrHandshake}) {
    EXPECT_FALSE(SetCommState(port, refused));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(SlaveTermios().c_ospeed, 250000u);
  CloseHandle(port);
}

TEST_F(PtyLine, TheOriginalSettingsComeBackOnClose) {
  const termios2 before = SlaveTermios();
  HANDLE port = OpenPort(name_);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DCB dcb = Dcb(57600);
  ASSERT_TRUE(SetCommState(port, &dcb));
  EXPECT_NE(SlaveTermios().c_lflag, before.c_lflag);
  CloseHandle(port);
  const termios2 after = SlaveTermios();
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_cflag, before.c_cflag);
  EXPECT_EQ(after.c_ospeed, before.c_ospeed);
}

TEST_F(PtyLine, APtyHasNoModemLinesAndNoErrors) {
  HANDLE port = OpenPort(name_);
  ASSERT_NE(port, INVALID_HANDLE_VALUE);
  DWORD status = 0xFF, errors = 0xFF;
  EXPECT_TRUE(GetCommModemStatus(port, &status));
  EXPECT_EQ(status, 0u);
  EXPECT_TRUE(ClearCommError(port, &errors, nullptr));
  EXPECT_EQ(errors, 0u);
  CloseHandle(port);
}

TEST(PosixOpen, RefusesWhatIsNotASerialDevice) {
  const std::string file = std::filesystem::temp_directory_path() / "comtest-not-a-tty";
  FILE* f = std::fopen(file.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(OpenPort(file), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
  std::filesystem::remove(file);

  // Refused for what they are, before anything opens them for writing or locks them: a
  // file another program holds locked must not read as "in use".
  const std::string locked = std::filesystem::temp_directory_path() / "comtest-locked-file";
  const int holder = open(locked.c_str(), O_CREAT | O_RDWR, 0600);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  for (const std::string& name : {locked, std::string("/dev/null"), std::string("/dev/tty"),
                                  std::string("/dev/tty0"), std::string("/dev/ptmx")}) {
    if (!std::filesystem::exists(name)) continue;
    EXPECT_EQ(OpenPort(name), INVALID_HANDLE_VALUE) << name;
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED) << name;
  }
  close(holder);
  std::filesystem::remove(locked);
  EXPECT_EQ(OpenPort("/dev/comtest-missing-device"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenPort("comtest-missing"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(PosixOpen, PortNamesLeadToDevicePaths) {
  EXPECT_EQ(DevicePathForPort("COM1"), "/dev/ttyS0");
  EXPECT_EQ(DevicePathForPort("com12"), "/dev/ttyS11");
  EXPECT_EQ(DevicePathForPort("COM0"), "/dev/COM0");
  EXPECT_EQ(DevicePathForPort("COMX"), "/dev/COMX");
  EXPECT_EQ(DevicePathForPort("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathForPort("/dev/pts/3"), "/dev/pts/3");
}

}  // namespace
}  // namespace platform::testing
