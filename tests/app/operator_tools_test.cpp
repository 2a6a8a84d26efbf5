// What the console offers the technician beyond its specified window: explanations of
// failures, the log's switches, polling and reconnecting.
#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTimer>
#include <memory>

#include "app/choosers.h"
#include "app/log_options.h"
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
  EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^\d\d:\d\d:\d\d\.\d{3} \[Rcv\] => A<HT>B$)"))
                  .match(QString::fromStdString(LogLines().back()))
                  .hasMatch())
      << LogLines().back();
  Choose("control-hex");
  Choose("timestamps");
  window_->BbtSend()->click();
  EXPECT_EQ(LogLines().back(), "[Send] => <02>01WHO");
  const std::string ini = TempFolder::Read(IniPath());
  EXPECT_EQ(ini.substr(0, specified.size()), specified) << "ComPort1 is left as it was";
  EXPECT_NE(ini.find("[Console]\nTimestamps=0\nControlBytes=hex\n"), std::string::npos) << ini;

  window_.reset();
  Show();
  EXPECT_EQ(LoadLogOptions(IniPath()).controlBytes, ControlBytes::Hex);
  window_->BbtSend()->click();
  EXPECT_EQ(LogLines().back(), "[Send] => <02>01WHO") << "the switch lasts";
}

// Every line goes to the file as it is logged; a full disk stops the recording with one
// message and keeps what was written.
TEST_F(OperatorTools, RecordingWritesEveryLineAndAFullDiskStopsItOnce) {
  Show();
  const std::string file = folder_.File("session.log");
  SetFileChooserHook([&](const std::string&) { return file; });
  Choose("record");
  window_->BbtSend()->click();
  Answer("01WHO,OK");
  EXPECT_EQ(TempFolder::Read(file), "[Send] => " + STX + "01WHO\n[Rcv] => 01WHO,OK\n");
  EXPECT_NE(window_->statusBar()->toolTip().toStdString().find("Recording to: " + file),
            std::string::npos);

  SetFileChooserHook([](const std::string&) { return std::string("/dev/full"); });
  Choose("record");  // off
  Choose("record");  // on, to a disk that is full
  window_->BbtSend()->click();
  window_->BbtSend()->click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].text.find("Recording to /dev/full stopped: No space left on device"),
            std::string::npos)
      << boxes_[0].text;
  EXPECT_EQ(TempFolder::Read(file), "[Send] => " + STX + "01WHO\n[Rcv] => 01WHO,OK\n");
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
