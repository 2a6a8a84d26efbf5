#include "platform/profile/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "../../temp_folder.h"

namespace platform {
namespace {

using testing_support::TempFolder;

class IniFileTest : public ::testing::Test {
 protected:
  std::string Path() const { return folder_.File("Main.Ini"); }
  TempFolder folder_;
};

TEST_F(IniFileTest, ReadsAsWindowsProfilesDo) {
  TempFolder::Write(Path(),
                    "; settings\r\n"
                    "[Other]\r\nPort=COM9\r\n"
                    "  [ comport1 ]  \r\n"
                    "  port  =  COM3  \r\n"
                    "PORT=COM4\r\n"
                    "no equals sign here\r\n"
                    "Empty=\r\n"
                    "[ComPort1]\r\nBaudRate=1200\r\n");
  IniFile ini(Path());
  EXPECT_EQ(ini.ReadString("ComPort1", "Port", "d"), "COM3");
  EXPECT_EQ(ini.ReadString("COMPORT1", "pOrT", "d"), "COM3");
  EXPECT_EQ(ini.ReadString("ComPort1", "Empty", "d"), "");
  EXPECT_EQ(ini.ReadString("ComPort1", "BaudRate", "d"), "d") << "the first section wins";
  EXPECT_EQ(ini.ReadString("Missing", "Port", "d"), "d");
  EXPECT_EQ(IniFile(folder_.File("none.ini")).ReadString("A", "B", "d"), "d");
}

TEST_F(IniFileTest, IntegersInDecimalOrHex) {
  TempFolder::Write(Path(),
                    "[S]\nA=-1\nB=0x1F\nC=0x\nD=12abc\nE=\nF=4294967296\nG=0XFFFFFFFF\nH=+7\n");
  IniFile ini(Path());
  EXPECT_EQ(ini.ReadInteger("S", "A", 5), -1);
  EXPECT_EQ(ini.ReadInteger("S", "B", 5), 31);
  EXPECT_EQ(ini.ReadInteger("S", "C", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "D", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "E", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "F", 5), 5);
  EXPECT_EQ(ini.ReadInteger("S", "G", 5), -1);
  EXPECT_EQ(ini.ReadInteger("S", "H", 5), 7);
}

TEST_F(IniFileTest, WritesKeepEveryOtherByte) {
  const std::string original =
      "; written on Windows\r\n"
      "[ComPort1]\r\n"
      "Port=COM1\r\n"
      "; a comment inside\r\n"
      "BaudRate=9600\r\n"
      "\r\n"
      "[Other]\r\n"
      "Key=Value\r\n";
  TempFolder::Write(Path(), original);
  IniFile ini(Path());
  ini.WriteString("comport1", "PORT", "COM7");
  ini.WriteString("ComPort1", "Parity", "None");
  ini.WriteString("New", "A", "1");
  EXPECT_EQ(TempFolder::Read(Path()),
            "; written on Windows\r\n"
            "[ComPort1]\r\n"
            "PORT=COM7\r\n"
            "; a comment inside\r\n"
            "BaudRate=9600\r\n"
            "Parity=None\r\n"
            "\r\n"
            "[Other]\r\n"
            "Key=Value\r\n"
            "[New]\r\n"
            "A=1\r\n");
}

TEST_F(IniFileTest, AKeyAddedAfterALastLineEndingInALoneCrStartsItsOwnLine) {
  TempFolder::Write(Path(), "[S]\nA=1\nnote\r");
  IniFile ini(Path());
  ini.WriteString("S", "K", "V");
  EXPECT_EQ(TempFolder::Read(Path()), "[S]\nA=1\nnote\r\nK=V\n");
  EXPECT_EQ(ini.ReadString("S", "K", "d"), "V");
}

// A file from an old Mac ends its lines with CR alone: they are its lines, and new ones
// end the same way.
TEST_F(IniFileTest, AFileWithCrLineEndsKeepsThem) {
  TempFolder::Write(Path(), "[ComPort1]\rPort=COM3\r[Other]\rA=1");
  IniFile ini(Path());
  EXPECT_EQ(ini.ReadString("ComPort1", "Port", "d"), "COM3");
  ini.WriteString("ComPort1", "BaudRate", "9600");
  ini.WriteString("Other", "B", "2");
  ini.WriteString("New", "C", "3");
  EXPECT_EQ(TempFolder::Read(Path()),
            "[ComPort1]\rPort=COM3\rBaudRate=9600\r[Other]\rA=1\rB=2\r[New]\rC=3\r");
}

TEST_F(IniFileTest, ANewFileUsesLineFeeds) {
  IniFile ini(Path());
  ini.WriteString("ComPort1", "Port", "COM1");
  ini.WriteInteger("ComPort1", "Size", -3);
  EXPECT_EQ(TempFolder::Read(Path()), "[ComPort1]\nPort=COM1\nSize=-3\n");
  TempFolder::Write(Path(), "[ComPort1]\nPort=COM1");
  ini.WriteString("ComPort1", "Size", "2");
  EXPECT_EQ(TempFolder::Read(Path()), "[ComPort1]\nPort=COM1\nSize=2\n");
}

TEST_F(IniFileTest, AFailedWriteRaisesAndLeavesTheFileAlone) {
  IniFile missingFolder(folder_.File("no/such/folder/Main.Ini"));
  try {
    missingFolder.WriteString("S", "K", "V");
    FAIL();
  } catch (const IniWriteError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Unable to write to " + folder_.File("no/such/folder/Main.Ini"));
  }
  std::filesystem::create_directory(folder_.File("dir.ini"));
  EXPECT_THROW(IniFile(folder_.File("dir.ini")).WriteString("S", "K", "V"), IniWriteError);
  EXPECT_EQ(IniFile(folder_.File("dir.ini")).ReadString("S", "K", "d"), "d");
#ifndef _WIN32
  EXPECT_THROW(IniFile("/proc/comtest.ini").WriteString("S", "K", "V"), IniWriteError);
#endif

  TempFolder::Write(Path(), "[S]\nK=old\n");
  EXPECT_THROW(IniFile(Path()).WriteString("S", "K", "two\nlines"), IniWriteError);
  // A NUL would make the file one that is never read or written again.
  EXPECT_THROW(IniFile(Path()).WriteString("S", std::string("K\0", 2), "V"), IniWriteError);
  EXPECT_THROW(IniFile(Path()).WriteString("S\r\n[T]", "K", "V"), IniWriteError);
  EXPECT_EQ(TempFolder::Read(Path()), "[S]\nK=old\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.Path()), {}), 2)
      << "no temporary file is left behind";
}

TEST_F(IniFileTest, BinaryFilesAreNeitherReadNorOverwritten) {
  const std::string garbage("[S]\nK=V\n\0\xFF\xFE garbage", 20);
  TempFolder::Write(Path(), garbage);
  IniFile ini(Path());
  EXPECT_EQ(ini.ReadString("S", "K", "d"), "d");
  EXPECT_THROW(ini.WriteString("S", "K", "x"), IniWriteError);
  EXPECT_EQ(TempFolder::Read(Path()), garbage);
}

#ifdef _WIN32
TEST_F(IniFileTest, AReadOnlyFileIsLeftAlone) {
  TempFolder::Write(Path(), "[S]\nK=old\n");
  std::filesystem::permissions(Path(), std::filesystem::perms::owner_read);
  EXPECT_THROW(IniFile(Path()).WriteString("S", "K", "new"), IniWriteError);
  EXPECT_EQ(TempFolder::Read(Path()), "[S]\nK=old\n");
  std::filesystem::permissions(Path(), std::filesystem::perms::owner_all);
}
#else
TEST_F(IniFileTest, ALinkIsWrittenThroughAndAReadOnlyFileIsLeftAlone) {
  const std::string target = folder_.File("real.ini");
  TempFolder::Write(target, "[S]\nK=old\n");
  std::filesystem::create_symlink(target, Path());
  IniFile(Path()).WriteString("S", "K", "new");
  EXPECT_TRUE(std::filesystem::is_symlink(Path()));
  EXPECT_EQ(TempFolder::Read(target), "[S]\nK=new\n");

  std::filesystem::permissions(target, std::filesystem::perms::owner_read);
  EXPECT_THROW(IniFile(Path()).WriteString("S", "K", "newer"), IniWriteError);
  EXPECT_EQ(TempFolder::Read(target), "[S]\nK=new\n");

  // A FIFO in the file's place reads as empty at once and is never written.
  const std::string fifo = folder_.File("fifo.ini");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(IniFile(fifo).ReadString("S", "K", "d"), "d");
  EXPECT_THROW(IniFile(fifo).WriteString("S", "K", "V"), IniWriteError);
}
#endif

TEST_F(IniFileTest, AHugeFileIsReadAndWrittenWithoutTrouble) {
  std::string big = "[Junk]\n";
  while (big.size() < 50u << 20) big += "line without an equals sign, many times over\n";
  big += "[ComPort1]\nPort=COM5\n";
  TempFolder::Write(Path(), big);
  IniFile ini(Path());
  EXPECT_EQ(ini.ReadString("ComPort1", "Port", "d"), "COM5");
  ini.WriteString("ComPort1", "Port", "COM6");
  EXPECT_EQ(ini.ReadString("ComPort1", "Port", "d"), "COM6");
  EXPECT_EQ(std::filesystem::file_size(Path()), big.size());
}

}  // namespace
}  // namespace platform
