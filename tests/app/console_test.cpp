#include <QAction>
#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/log_document.h"
#include "app/log_view.h"
#include "console_fixture.h"
#include "cport/errors.h"
#include "cportsetup/setup_dialog.h"

namespace console::testing {

namespace {

const std::string STX = "\x02";

TEST_F(ConsoleTest, FirstStartWritesTheDefaultsAndOpensThePortTheyName) {
  Show();
  EXPECT_EQ(TempFolder::Read(IniPath()),
            "[ComPort1]\nPort=COM1\nBaudRate=9600\nParity=None\nDataBits=8\nStopBits=1\n"
            "FlowControl=fcCustom\n");
  EXPECT_EQ(window_->PanelText(0).toStdString(), "대기중");
  EXPECT_EQ(window_->PanelText(1), "COM1");
  EXPECT_EQ(window_->PanelText(2), "9600,None,8,1");
  EXPECT_EQ(window_->PanelText(3), "Product NO.073519");
  EXPECT_TRUE(com1_->IsOpen()) << "the file's COM1, not the design-time COM2";
  EXPECT_EQ(window_->ComboBox1()->currentText(), "WHO");
  EXPECT_EQ(window_->EdtData()->text(), "01WHO");
  EXPECT_TRUE(window_->ComboBox1()->hasFocus() || !window_->isActiveWindow());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(window_->windowTitle().toStdString(), "(주)가람벡스 통신 Test");
}

TEST_F(ConsoleTest, EmptyValuesAreFilledAndPanelsShowTheFileVerbatim) {
  WriteIni("[ComPort1]\r\nPort=\r\nBaudRate=12345\r\nParity=odd\r\nFlowControl=Hardware\r\n");
  Show();
  const std::string ini = TempFolder::Read(IniPath());
  EXPECT_NE(ini.find("Port=COM1\r\n"), std::string::npos);
  EXPECT_EQ(window_->PanelText(2), "12345,odd,8,1");
  cport::TComPort& port = window_->ComPort1();
  EXPECT_EQ(port.BaudRate(), cport::br9600);
  EXPECT_EQ(port.Parity().Bits(), cport::prOdd);
  EXPECT_EQ(port.FlowControl().ControlRTS(), cport::rtsToggle) << "forced whatever was loaded";
  EXPECT_EQ(com1_->LastDcb().fRtsControl, 3u);
  EXPECT_TRUE(port.FlowControl().OutCTSFlow());
}

TEST_F(ConsoleTest, AFailedOpenShowsOneBoxThenError) {
  WriteIni("[ComPort1]\nPort=comtest-no-such-port\n");
  Show();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "통신 불량");
  EXPECT_EQ(boxes_[0].caption, "경고");
  EXPECT_EQ(boxes_[0].flags, 0x10u);
  EXPECT_EQ(window_->PanelText(0), "ERROR");
  EXPECT_EQ(window_->PanelText(1), "comtest-no-such-port");

  window_->BbtSend()->click();  // an error escaping a handler reaches the general display
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].text, "WriteFile function failed (win error code: 6)");
  EXPECT_EQ(boxes_[1].caption, "통신Test");
  EXPECT_TRUE(LogLines().empty());
}

// A folder the console cannot write to (an installed program's) sends the settings to the
// user's configuration folder; only when that cannot be written either does the start stop.
TEST_F(ConsoleTest, SettingsGoToTheConfigurationFolderWhenTheProgramsCannotBeWritten) {
  funcp::ExePath = folder_.File("missing") + "/";
  const std::string config = folder_.File("config");
  setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  Show();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(window_->SettingsFile(), config + "/Vex_ComTest/Main.Ini");
  EXPECT_NE(TempFolder::Read(window_->SettingsFile()).find("Port=COM1"), std::string::npos);
  EXPECT_TRUE(com1_->IsOpen());

  window_.reset();
  TempFolder::Write(config + "-file", "");
  setenv("XDG_CONFIG_HOME", (config + "-file").c_str(), 1);
  Show();
  unsetenv("XDG_CONFIG_HOME");
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Unable to write to " + config + "-file/Vex_ComTest/Main.Ini.");
  EXPECT_EQ(window_->PanelText(0), "Error");
  EXPECT_EQ(window_->ComboBox1()->currentText(), "ComboBox1");
}

TEST_F(ConsoleTest, PresetsFillTheCommandWhenTheListCloses) {
  Show();
  CommandComboBox* combo = window_->ComboBox1();
  combo->setCurrentIndex(1);
  EXPECT_EQ(window_->EdtData()->text(), "01WHO") << "a selection by code does nothing";
  combo->hidePopup();
  EXPECT_EQ(window_->EdtData()->text(), "01WHO") << "a list that was not open does not close";
  combo->showPopup();
  combo->hidePopup();
  EXPECT_EQ(window_->EdtData()->text(), "01DRS,01,0001");
  window_->EdtData()->setText("EDITED");
  combo->showPopup();
  combo->hidePopup();
  EXPECT_EQ(window_->EdtData()->text(), "01DRS,01,0001") << "closing re-applies the preset";

  combo->setEditText("nothing like it");
  window_->EdtData()->setText("KEEP");
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Return);
  EXPECT_EQ(window_->EdtData()->text(), "KEEP");
  EXPECT_EQ(QApplication::focusWidget(), window_->EdtData());

  combo->setEditText("sv read");
  QTest::keyClick(combo, Qt::Key_Return);
  EXPECT_EQ(window_->EdtData()->text(), "01DRS,01,0002");
}

TEST_F(ConsoleTest, LettersBecomeCapitalsTypedOrPasted) {
  Show();
  QLineEdit* edit = window_->EdtData();
  edit->clear();
  QTest::keyClicks(edit, "01who");
  EXPECT_EQ(edit->text(), "01WHO");
  edit->insert("drs,1");
  EXPECT_EQ(edit->text(), "01WHODRS,1");
}

TEST_F(ConsoleTest, EnterSendsTheFramedCommandAndLogsIt) {
  Show();
  window_->EdtData()->setFocus();
  QTest::keyClick(window_->EdtData(), Qt::Key_Return);
  EXPECT_EQ(com1_->TakeExactly(8, std::chrono::seconds(5)), STX + "01WHO\r\n");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"[Send] => " + STX + "01WHO"});
}

// A line held by flow control takes part of the frame before the write times out.
TEST_F(ConsoleTest, ACommandCutShortByTheWriteTimeoutIsNotLoggedAsSent) {
  Show();
  com1_->SetReceiveCapacity(3);
  window_->BbtSend()->click();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "통신 불량");
  EXPECT_TRUE(LogLines().empty());
}

TEST_F(ConsoleTest, AnswersAreLoggedAndEchoesHidden) {
  Show();
  window_->BbtSend()->click();
  com1_->Send(STX + "01WHO\r\n");
  ASSERT_TRUE(ServeUntil([&] { return window_->Frames().Completed() == 1; }));
  com1_->Send(STX + "01WHO,TC");
  com1_->Send("-100\r\n");
  ASSERT_TRUE(ServeUntil([&] { return LogLines().size() >= 2; }));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"[Send] => " + STX + "01WHO", "[Rcv] => 01WHO,TC-100"}));
  QTest::mouseClick(window_->SpeedButton1(), Qt::LeftButton);
  EXPECT_TRUE(LogLines().empty());
}

// A frame cut by a reopen (or an unplug) is not glued to what the port brings after it:
// here the rest of the cut frame, which would otherwise end it as an answer.
TEST_F(ConsoleTest, OpeningThePortStartsAnEmptyFrame) {
  Show();
  com1_->Send(STX + "01HALF");
  ASSERT_TRUE(ServeUntil([&] { return window_->Frames().RxState() == 1; }));
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<cport::TComSetupFrm*>(QApplication::activeModalWidget());
    if (dialog) dialog->CancelButton()->click();
  });
  window_->BitBtn1()->click();
  ASSERT_TRUE(com1_->IsOpen());
  EXPECT_EQ(window_->Frames().RxState(), 0);
  window_->BbtSend()->click();
  com1_->Send("LF\r\n" + STX + "01WHO\r\n" + STX + "01WHO,OK\r\n");
  ASSERT_TRUE(ServeUntil([&] { return window_->Frames().Completed() == 2; }));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"[Send] => " + STX + "01WHO", "[Rcv] => 01WHO,OK"}));
}

// Only a screenful of the store's lines is painted: the newest at the bottom while the view
// is at its end; scrolled back, it keeps its lines as more come, until the store lets them
// go; cleared, it follows again.
TEST_F(ConsoleTest, TheLogViewFollowsTheNewestLineOrStaysWhereItWasScrolled) {
  Show();
  LogWriter& log = window_->Log();
  LogView* view = window_->Memo1();
  auto shown = [&] {
    view->viewport()->repaint();
    return view->ShownLines();
  };
  for (int i = 0; i < 150000; ++i) log.AddBatched("[Rcv] => 01SEQ," + std::to_string(i));
  log.Flush();
  ASSERT_FALSE(shown().empty());
  EXPECT_EQ(shown().back(), ::console::LogLines::kMaxLines - 1);
  EXPECT_LT(shown().size(), 40u);
  view->verticalScrollBar()->setValue(100);
  EXPECT_EQ(shown().back(), 100u);
  for (int i = 0; i < 50; ++i) log.AddBatched("[Rcv] => more");
  log.Flush();
  EXPECT_EQ(shown().back(), 50u) << "the same line, 50 older ones gone";
  for (int i = 0; i < 200; ++i) log.AddBatched("[Rcv] => more");
  log.Flush();
  EXPECT_EQ(shown().front(), 0u) << "its lines gone, the oldest kept";
  log.Clear();
  log.AddNow("[Send] => again");
  EXPECT_EQ(shown(), std::vector<size_t>{0});
}

// The log is editable: the first edit hands it from the fast view to a text document
// holding what was shown, the caret where the operator clicked; frames still come in at the
// end, and Clear brings the fast view back.
TEST_F(ConsoleTest, TheLogBecomesEditableAndClearMakesItFastAgain) {
  Show();
  LogWriter& log = window_->Log();
  LogView* view = window_->Memo1();
  QPlainTextEdit* document = log.Document();
  for (int i = 0; i < 200; ++i) log.AddBatched("[Rcv] => filler " + std::to_string(i));
  window_->BbtSend()->click();
  com1_->Send(STX + "01WHO,TC-100\r\n");
  ASSERT_TRUE(ServeUntil([&] { return LogLines().size() == 202; }));
  log.Flush();
  view->viewport()->repaint();
  const int row = QFontMetrics(view->font()).lineSpacing();
  const QPoint endOfSentLine(view->viewport()->width() - 3, view->viewport()->height() - row - 3);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, endOfSentLine);
  QTest::keyClicks(view, " ");
  ASSERT_TRUE(log.Edited());
  EXPECT_TRUE(document->isVisible());
  EXPECT_FALSE(view->isVisible());
  EXPECT_EQ(window_->focusWidget(), document);
  QTest::keyClicks(document, "ok");
  const auto newest = [&] { return document->document()->lastBlock().text().toStdString(); };
  EXPECT_EQ(document->document()->findBlockByNumber(200).text().toStdString(),
            "[Send] => " + STX + "01WHO ok");
  EXPECT_EQ(newest(), "[Rcv] => 01WHO,TC-100");
  QScrollBar* bar = document->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum()) << "the view followed, so does the document";

  com1_->Send(STX + "01WHO,TC\r101\r\n");
  ASSERT_TRUE(ServeUntil([&] { return document->blockCount() == 203; }));
  EXPECT_EQ(newest(), "[Rcv] => 01WHO,TC␍101") << "a CR as the fast view showed it";
  EXPECT_EQ(bar->value(), bar->maximum());
  const auto choose = [&](const char* name) {
    std::unique_ptr<QMenu>(window_->LogMenu())->findChild<QAction*>(name)->trigger();
    return QGuiApplication::clipboard()->text().toStdString();
  };
  const std::string copied = choose("copy-all");
  EXPECT_EQ(copied.rfind("[Rcv] => filler 0\n", 0), 0u);
  const std::string end = "01WHO ok\n[Rcv] => 01WHO,TC-100\n[Rcv] => 01WHO,TC\r101\n";
  EXPECT_EQ(copied.substr(copied.size() - std::min(copied.size(), end.size())), end);
  choose("select-all");
  EXPECT_EQ(choose("copy") + "\n", copied) << "a copy gives the log's bytes too";

  QTest::keyClick(document, Qt::Key_Escape);
  EXPECT_FALSE(window_->isVisible());
  window_->show();
  QTest::mouseClick(window_->SpeedButton1(), Qt::LeftButton);
  EXPECT_FALSE(log.Edited());
  EXPECT_TRUE(LogLines().empty());
  EXPECT_TRUE(view->isVisible());
  EXPECT_FALSE(document->isVisible());
  EXPECT_EQ(window_->focusWidget(), view);
  com1_->Send(STX + "01WHO,TC-102\r\n");
  ASSERT_TRUE(ServeUntil([&] { return LogLines().size() == 1; }));
  log.Flush();
  view->viewport()->repaint();
  EXPECT_EQ(view->ShownLines(), std::vector<size_t>{0});
  EXPECT_TRUE(document->document()->isEmpty());

  QGuiApplication::clipboard()->setText("; note");
  choose("paste");
  ASSERT_TRUE(log.Edited()) << "an edit through the menu";
  EXPECT_EQ(log.Text().toStdString(), "[Rcv] => 01WHO,TC-102; note\n");
}

TEST_F(ConsoleTest, EscapeFromEveryBoundControlEndsTheProgram) {
  Show();
  std::vector<QWidget*> controls = {window_->ComboBox1(), window_->EdtData(), window_->Memo1(),
                                    window_->BbtSend(),   window_->BitBtn1(), window_->BbtExit()};
  for (QWidget* control : controls) {
    window_->show();
    ASSERT_TRUE(window_->isVisible());
    QTest::keyClick(control, Qt::Key_Escape);
    EXPECT_FALSE(window_->isVisible()) << control->metaObject()->className();
  }
  window_.reset();
  EXPECT_FALSE(com1_->IsOpen()) << "the port closes with the window";
}

TEST_F(ConsoleTest, APulledAdapterIsToldOnceAndTheButtonReopens) {
  Show();
  com1_->Vanish();
  ASSERT_TRUE(ServeUntil([&] { return !boxes_.empty(); }));
  EXPECT_EQ(boxes_[0].text, "WaitForEvent method failed (win error code: 5)");
  EXPECT_EQ(window_->PanelText(0), "ERROR");
  QApplication::processEvents();
  platform::CheckSynchronize();
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(ConsoleTest, TheWindowRendersWithLegibleKoreanText) {
  Show();
  window_->Log().AddNow("[Rcv] => 01WHO,TC-100");
  const QString file = QString::fromStdString(std::string(COMTEST_BUILD_DIR) + "/console.png");
  ASSERT_TRUE(window_->grab().save(file));
  EXPECT_EQ(window_->centralWidget()->size(), QSize(400, 361 - 25));
}

}  // namespace
}  // namespace console::testing
