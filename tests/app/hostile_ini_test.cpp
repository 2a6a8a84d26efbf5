// Settings files no one should have to write by hand, and some that happen anyway: the
// console starts on them without hanging, says at most once what is wrong, and loses no
// line of the file.
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "console_fixture.h"

namespace console::testing {
namespace {

namespace fs = std::filesystem;

struct HostileFile {
  const char* name;
  std::function<void(const std::string& path)> make;
  bool usable;  // false: the file is left alone and one box names it
};

void Bytes(const std::string& path, const std::string& bytes) { TempFolder::Write(path, bytes); }

std::vector<HostileFile> HostileFiles() {
  using namespace std::string_literals;
  return {
      {"a FIFO", [](const std::string& p) { mkfifo(p.c_str(), 0600); }, false},
      {"a folder", [](const std::string& p) { fs::create_directory(p); }, false},
      {"UTF-16 with a byte-order mark",
       [](const std::string& p) { Bytes(p, "\xFF\xFE[\0C\0]\0\r\0\n\0"s); }, false},
      {"a NUL byte", [](const std::string& p) { Bytes(p, "[ComPort1]\nPort=CO\0M1\n"s); }, false},
      {"larger than 64 MiB",
       [](const std::string& p) { Bytes(p, std::string((64 << 20) + 1, '\n')); }, false},
      {"a link to itself", [](const std::string& p) { fs::create_symlink(p, p); }, false},
      {"a dangling link", [](const std::string& p) { fs::create_symlink(p + ".gone", p); }, true},
      {"bytes of no encoding", [](const std::string& p) { Bytes(p, "\xFF\x80\xFE\x01\n"); }, true},
      {"CR line ends", [](const std::string& p) { Bytes(p, "[ComPort1]\rPort=COM1\r"); }, true},
      {"an unclosed section", [](const std::string& p) { Bytes(p, "[ComPort1\nPort=X\n"); }, true},
      {"a UTF-8 byte-order mark",
       [](const std::string& p) { Bytes(p, "\xEF\xBB\xBF[ComPort1]\nPort=COM1\n"); }, true},
      {"duplicate sections and keys",
       [](const std::string& p) { Bytes(p, "[ComPort1]\nPort=COM1\nPort=X\n[comport1]\n"); }, true},
      {"numbers that are not",
       [](const std::string& p) {
         Bytes(p, "[ComPort1]\nPort=COM1\nBaudRate=fast\nDataBits=-8\nStopBits=0x\n");
       },
       true},
      {"a megabyte-long value",
       [](const std::string& p) { Bytes(p, "[ComPort1]\nPort=" + std::string(1 << 20, 'x')); },
       true},
      {"a path as the port",
       [](const std::string& p) { Bytes(p, "[ComPort1]\nPort=../../../../etc/passwd\n"); }, true},
      {"the controlling terminal as the port",
       [](const std::string& p) { Bytes(p, "[ComPort1]\nPort=/dev/tty\n"); }, true},
      {"keys without values and lines without keys",
       [](const std::string& p) { Bytes(p, "[ComPort1]\n=\n==\nPort\n;Port=COM9\n"); }, true},
  };
}

bool IsFile(const std::string& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t lf; (lf = text.find('\n', start)) != std::string::npos; start = lf + 1) {
    lines.push_back(text.substr(start, lf - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

TEST_F(ConsoleTest, HostileSettingsFilesStartTheConsoleAndLoseNothing) {
  for (const HostileFile& kind : HostileFiles()) {
    SCOPED_TRACE(kind.name);
    TearDown();
    TempFolder folder;
    funcp::ExePath = folder.Path().string() + "/";
    com1_ = platform::InstallVirtualPort("COM1");
    RecordBoxes();
    const std::string path = folder.File("Main.Ini");
    kind.make(path);
    const std::string before = IsFile(path) ? TempFolder::Read(path) : "";

    Show();
    EXPECT_LE(boxes_.size(), 1u);
    if (boxes_.size() > 1) ADD_FAILURE() << "second box: " << boxes_[1].text;
    if (!kind.usable) {
      ASSERT_EQ(boxes_.size(), 1u);
      EXPECT_NE(boxes_[0].text.find(path), std::string::npos) << boxes_[0].text;
      EXPECT_EQ(window_->PanelText(0).toStdString(), "대기중") << "runs on the defaults";
      if (IsFile(path)) {
        EXPECT_EQ(TempFolder::Read(path), before);
      }
      continue;
    }
    const std::string after = IsFile(path) ? TempFolder::Read(path) : "";
    for (const std::string& line : Lines(before)) {
      EXPECT_NE(after.find(line), std::string::npos) << "lost: " << line.substr(0, 40);
    }
  }
}

}  // namespace
}  // namespace console::testing
