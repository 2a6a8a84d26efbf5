// What the console offers the technician beyond its specified window: explanations of
// failures, the log's switches, polling and reconnecting.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <csignal>
#include <filesystem>
#include <memory>

#include "app/choosers.h"
#include "app/log_options.h"
#include "app/log_view.h"
#include "app/log_writer.h"
#include "console_fixture.h"
#include "cportsetup/setup_dialog.h"

namespace console::testing {
namespace {

const std::string STX = "\x02";

class OperatorTools : public ConsoleTest {
 protected:
  void TearDown() override {
    SetFileChooserHook(nullptr);
    SetIntervalChooserHook(nullptr);
    ConsoleTest::TearDown();
  }
  // Triggers an entry of the log's context menu, as the operator would.
  void Choose(const char* name) {
    std::unique_ptr<QMenu> menu(window_->LogMenu());
    auto* action = menu->findChild<QAction*>(QLatin1String(name));
    ASSERT_NE(action, nullptr) << name;
    action->trigger();
  }
  void Answer(const std::string& text) {
    com1_->Send(STX + text + "\r\n");
    const size_t before = LogLines().size();
    ASSERT_TRUE(ServeUntil([&] {
      window_->Log().Flush();
      return LogLines().size() > before;
    }));
  }
};

TEST_F(OperatorTools, AFailedOpenSaysWhyUnderTheBoxAndInPanelZero) {
  WriteIni("[ComPort1]\nPort=comtest-no-such-port\n");
  Show();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "통신 불량");
  EXPECT_EQ(boxes_[0].details.rfind("/dev/comtest-no-such-port does not exist.", 0), 0u)
      << boxes_[0].details;
  EXPECT_EQ(window_->PanelTip(0).toStdString(), boxes_[0].details);
}

TEST_F(OperatorTools, TimestampsAndVisibleControlBytesLastInTheirOwnSection) {
  Show();
  const std::string specified = TempFolder::Read(IniPath());
  Choose("timestamps");
  Choose("control-marks");
  Answer("A\tB");
  EXPECT_TRUE(QRegularExpression(
                  QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d{3} \[Rcv\] => <STX>A<HT>B<CR><LF>$)"))
                  .match(QString::fromStdString(LogLines().back()))
                  .hasMatch())
      << LogLines().back();
  Choose("control-hex");
  Choose("timestamps");
  const std::string ini = TempFolder::Read(IniPath());
  EXPECT_EQ(ini.substr(0, specified.size()), specified) << "ComPort1 is left as it was";
  EXPECT_NE(ini.find("[Console]\nTimestamps=0\nControlBytes=hex\n"), std::string::npos) << ini;

  window_.reset();
  Show();
  window_->BbtSend()->click();
  EXPECT_EQ(LogLines().back(), "[Send] => <02>01WHO<0D><0A>") << "the switch lasts";
}

// As specified a frame is its payload; with control bytes shown it is shown whole, and a
// piece an STX cut off gets its own line. Either way one frame is one line on screen.
TEST_F(OperatorTools, ControlBytesShownShowWholeFramesAndWhatWasCutOff) {
  Show();
  const std::string stream = STX + "junk" + STX + "01AB\rCD\r\n" + STX + "01LF\n";
  const std::vector<std::pair<const char*, std::vector<std::string>>> modes = {
      {"control-marks",
       {"[Send] => <STX>01WHO<CR><LF>", "[Rcv, cut off] => <STX>junk",
        "[Rcv] => <STX>01AB<CR>CD<CR><LF>", "[Rcv] => <STX>01LF<LF>"}},
      {"control-hex",
       {"[Send] => <02>01WHO<0D><0A>", "[Rcv, cut off] => <02>junk",
        "[Rcv] => <02>01AB<0D>CD<0D><0A>", "[Rcv] => <02>01LF<0A>"}},
      {"control-as-received", {"[Send] => " + STX + "01WHO", "[Rcv] => 01AB\rCD", "[Rcv] => 01LF"}},
  };
  for (const auto& [mode, lines] : modes) {
    window_->SpeedButton1()->click();
    Choose(mode);
    window_->BbtSend()->click();
    com1_->Send(stream);
    ASSERT_TRUE(ServeUntil([&] { return LogLines().size() >= lines.size(); })) << mode;
    EXPECT_EQ(LogLines(), lines) << mode;
  }
  window_->Log().Flush();
  window_->Memo1()->viewport()->repaint();
  EXPECT_EQ(window_->Memo1()->ShownLines(), (std::vector<size_t>{0, 1, 2}));
}

// inotify counts the temporary files each rewrite makes beside the file (it would merge the
// renames that follow, as they are all alike).
int RewritesOf(const std::string& file, const std::function<void()>& action) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  inotify_add_watch(fd, std::filesystem::path(file).parent_path().c_str(), IN_CREATE);
  action();
  int count = 0;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      const std::string temporary = std::filesystem::path(file).filename().string() + ".";
      if (event->len && std::string(event->name).rfind(temporary, 0) == 0) ++count;
      at += sizeof(inotify_event) + event->len;
    }
  }
  close(fd);
  return count;
}

TEST_F(OperatorTools, ASwitchRewritesTheFileOnceAndCopiesTakeEveryLine) {
  Show();
  for (const char* name : {"timestamps", "control-marks", "reconnect", "control-as-received"}) {
    EXPECT_EQ(RewritesOf(IniPath(), [&] { Choose(name); }), 1) << name;
  }
  window_->Log().AddNow("[Send] => shown");
  window_->Log().AddBatched("[Rcv] => not shown yet");
  Choose("copy-all");
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QStringLiteral("[Send] => shown\n[Rcv] => not shown yet\n"));
  window_->Log().Flush();
  LogView* view = window_->Memo1();
  view->viewport()->repaint();
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
  Choose("copy");
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("[Send] => shown"));
  Choose("select-all");
  QTest::keySequence(view, QKeySequence::Copy);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            QStringLiteral("[Send] => shown\n[Rcv] => not shown yet"));
  const std::string file = folder_.File("saved.log");
  SetFileChooserHook([&](const std::string&) { return file; });
  Choose("save-as");
  ASSERT_TRUE(ServeUntil(
      [&] { return TempFolder::Read(file) == "[Send] => shown\n[Rcv] => not shown yet\n"; }));
  SetFileChooserHook([&](const std::string&) { return folder_.File("no-such-folder/saved.log"); });
  Choose("save-as");
  ASSERT_TRUE(ServeUntil([&] { return !boxes_.empty(); }));
  EXPECT_NE(boxes_[0].text.find("Unable to write to " + folder_.File("no-such-folder/saved.log")),
            std::string::npos);
}

// Whatever ends a recording is said in one true box, after the line it failed on is in the
// log; it leaves no half line in the file, and no recording that the next start would try
// again. A settings file that cannot be written is said once, whichever box says it.
TEST_F(OperatorTools, EachTroubleOfARecordingIsOneTrueBox) {
  struct Trouble {
    const char* what;
    std::function<std::string()> prepare;  // gives the file to record to
    std::string said;                      // by the recording's box, the last one
    std::string notSaid;
    size_t boxes;
  };
  const std::string session = folder_.File("session.log");
  const std::vector<Trouble> troubles = {
      {"a folder that is not there", [&] { return folder_.File("gone/session.log"); },
       "could not start: No such file or directory. Nothing was recorded.", "stopped", 1},
      {"a full disk", [] { return std::string("/dev/full"); },
       "stopped: No space left on device. Nothing was recorded.", "logged", 1},
      {"a removed file", [&] { return session; }, "stopped: the file was removed.", "logged", 1},
      {"a file size limit",
       [&] {
         TempFolder::Write(session, std::string(4000, '.') + "\n");
         return session;
       },
       "stopped: File too large. What was logged before is in the file.", "Unable", 1},
      {"a settings file that cannot be written",
       [&] {
         chmod(IniPath().c_str(), 0444);
         return std::string("/dev/full");
       },
       "stopped: No space left on device.", "Unable", 2},
  };
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit unlimited{};
  getrlimit(RLIMIT_FSIZE, &unlimited);
  for (const Trouble& trouble : troubles) {
    SCOPED_TRACE(trouble.what);
    const std::string kind = trouble.what;
    std::filesystem::remove(session);
    Show();
    const std::string file = trouble.prepare();
    SetFileChooserHook([&](const std::string&) { return file; });
    size_t sends = 0;
    std::vector<size_t> sendsLogged;
    funcp::SetMessageBoxHook([&](const std::string& text, const std::string& caption,
                                 uint32_t flags, const std::string& details) {
      const auto lines = LogLines();
      sendsLogged.push_back(
          static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("[Send]", 0) == 0;
          })));
      boxes_.push_back({text, caption, flags, details});
      return funcp::IDOK;
    });
    Choose("record");
    if (kind == "a removed file") std::filesystem::remove(session);
    if (kind == "a file size limit") {
      EXPECT_TRUE(window_->statusBar()->toolTip().toStdString().find("Recording to: " + session) !=
                  std::string::npos);
      window_->BbtSend()->click();
      ++sends;
      rlimit limit = unlimited;
      limit.rlim_cur = std::filesystem::file_size(session) + 5;
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    window_->BbtSend()->click();
    ++sends;
    Answer("01WHO,OK");
    setrlimit(RLIMIT_FSIZE, &unlimited);
    ASSERT_TRUE(ServeUntil([&] { return boxes_.size() >= trouble.boxes; }));
    ServeUntil([] { return true; });
    ASSERT_EQ(boxes_.size(), trouble.boxes) << boxes_.back().text;
    std::string all;
    for (const ShownBox& box : boxes_) all += box.text;
    const std::string& told = boxes_.back().text;
    EXPECT_EQ(told.rfind("Recording to " + file + " " + trouble.said, 0), 0u) << told;
    EXPECT_EQ(told.find(trouble.notSaid), std::string::npos) << told;
    EXPECT_EQ(all.find("Unable to write"), all.rfind("Unable to write")) << all;
    EXPECT_EQ(all.find("Unable to write to " + IniPath()) != std::string::npos,
              kind == "a settings file that cannot be written")
        << all;
    if (told.find("stopped") != std::string::npos) {
      EXPECT_EQ(sendsLogged.back(), sends) << "the box came before its line";
    }
    if (kind == "a file size limit") {
      EXPECT_EQ(TempFolder::Read(session),
                std::string(4000, '.') + "\n[Send] => " + STX + "01WHO\n")
          << "no half line";
    }
    chmod(IniPath().c_str(), 0644);
    RecordBoxes();
    Show();
    EXPECT_TRUE(boxes_.empty()) << "the next start records nothing: " << boxes_.front().text;
    EXPECT_FALSE(window_->statusBar()->toolTip().contains(QStringLiteral("Recording")));
  }
  std::signal(SIGXFSZ, SIG_DFL);
}

// Polling sends on a timer, and its first failure stops it with one box.
TEST_F(OperatorTools, PollingSendsUntilTheFirstErrorAndStopsForTheSettingsButton) {
  Show();
  SetIntervalChooserHook([](int) { return std::optional<int>(20); });
  Choose("poll-interval");
  Choose("poll");
  ASSERT_TRUE(ServeUntil([&] { return LogLines().size() >= 3; }));
  EXPECT_TRUE(window_->Polling());
  com1_->SetReceiveCapacity(0);
  ASSERT_TRUE(ServeUntil([&] { return !window_->Polling(); }));
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "통신 불량");

  com1_->SetReceiveCapacity(1 << 20);
  Choose("poll");
  EXPECT_TRUE(window_->Polling());
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<cport::TComSetupFrm*>(QApplication::activeModalWidget());
    if (dialog) dialog->CancelButton()->click();
  });
  window_->BitBtn1()->click();
  EXPECT_FALSE(window_->Polling());
}

// The box's loop serves the port and the timers: a port lost while polling is one box,
// with its reason, whichever failure comes first, and nothing after it adds a second.
TEST_F(OperatorTools, APortLostWhilePollingIsOneBoxWithItsReason) {
  Show();
  SetIntervalChooserHook([](int) { return std::optional<int>(10); });
  Choose("poll-interval");
  Choose("poll");
  ASSERT_TRUE(ServeUntil([&] { return LogLines().size() >= 2; }));
  bool pollingWhileUp = true;
  funcp::SetMessageBoxHook([&](const std::string& text, const std::string& caption, uint32_t flags,
                               const std::string& details) {
    boxes_.push_back({text, caption, flags, details});
    if (boxes_.size() > 1) return funcp::IDOK;
    pollingWhileUp = window_->Polling();
    ServeUntil([&] { return window_->PanelText(0) == "ERROR"; });
    window_->BbtSend()->click();
    return funcp::IDOK;
  });
  com1_->Vanish();
  ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0) == "ERROR"; }));
  QApplication::processEvents();
  ASSERT_EQ(boxes_.size(), 1u) << boxes_.back().text;
  EXPECT_FALSE(pollingWhileUp);
  EXPECT_FALSE(window_->Polling());
  EXPECT_NE(boxes_[0].details.find("stopped answering"), std::string::npos) << boxes_[0].details;
}

// An administrator's settings file that cannot be written is read and used, not replaced
// by defaults elsewhere; a switch that cannot be saved in it says so once.
TEST_F(OperatorTools, AReadOnlySettingsFileBesideTheProgramIsUsed) {
  WriteIni(
      "[ComPort1]\nPort=COM1\nBaudRate=19200\nParity=None\nDataBits=8\nStopBits=1\n"
      "FlowControl=None\n");
  const std::string before = TempFolder::Read(IniPath());
  struct ReadOnly {
    explicit ReadOnly(const std::string& path) : path_(path) { Set(true); }
    ~ReadOnly() { Set(false); }
    // chmod stops no one as root; the immutable flag stops root too.
    void Set(bool on) {
      if (geteuid() != 0) {
        chmod(path_.c_str(), on ? 0444 : 0644);
        return;
      }
      const int fd = open(path_.c_str(), O_RDONLY);
      int flags = 0;
      ioctl(fd, FS_IOC_GETFLAGS, &flags);
      flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
      works = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
      close(fd);
    }
    std::string path_;
    bool works = true;
  } readOnly(IniPath());
  if (!readOnly.works) GTEST_SKIP() << "no immutable files here";
  setenv("XDG_CONFIG_HOME", folder_.File("config").c_str(), 1);
  Show();
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(window_->SettingsFile(), IniPath());
  EXPECT_EQ(window_->PanelText(2), "19200,None,8,1");
  EXPECT_EQ(window_->ComPort1().BaudRate(), cport::br19200);
  EXPECT_TRUE(boxes_.empty());
  Choose("timestamps");
  Choose("control-marks");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text.rfind("Unable to write to " + IniPath() + ".", 0), 0u) << boxes_[0].text;
  EXPECT_EQ(TempFolder::Read(IniPath()), before);
}

// The README's pictures: the log's menu beside the window, and a failure's explanation.
TEST_F(OperatorTools, ScreenshotsOfTheMenuAndAnExplanation) {
  WriteIni("[ComPort1]\nPort=ttyUSB7\n");
  Show();
  ASSERT_EQ(boxes_.size(), 1u);
  std::unique_ptr<QMenu> menu(window_->LogMenu());
  menu->adjustSize();
  const QPixmap shot = window_->grab(), menuShot = menu->grab();
  QPixmap both(shot.width() + menuShot.width() + 8, std::max(shot.height(), menuShot.height()));
  both.fill(Qt::white);
  QPainter painter(&both);
  painter.drawPixmap(0, 0, shot);
  painter.drawPixmap(shot.width() + 8, 0, menuShot);
  painter.end();
  const std::string build = COMTEST_BUILD_DIR;
  EXPECT_TRUE(both.save(QString::fromStdString(build + "/console-menu.png")));

  auto box =
      funcp::MakeMessageBox(boxes_[0].text, boxes_[0].caption, boxes_[0].flags, boxes_[0].details);
  box->show();
  for (QAbstractButton* button : box->buttons()) {
    if (box->buttonRole(button) == QMessageBox::ActionRole) button->click();  // details
  }
  QApplication::processEvents();
  EXPECT_TRUE(box->grab().save(QString::fromStdString(build + "/open-failure.png")));
}

}  // namespace
}  // namespace console::testing
