// The console, offscreen, against the instrument simulator over a real pseudo-terminal.
#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <filesystem>

#include "../app/console_fixture.h"
#include "../platform/comm/network_servers.h"
#include "cportsetup/setup_dialog.h"
#include "protocol.h"
#include "simulator_process.h"

namespace console::testing {

namespace {

const std::string STX = "\x02";

class ConsoleWithSimulator : public ConsoleTest {
 protected:
  void StartSimulator(std::vector<std::string> options = {}) {
    sim_.reset();
    sim_ = std::make_unique<e2e::SimulatorProcess>(Link(), std::move(options));
    ASSERT_TRUE(sim_->Ready());
  }
  void StartConsole() {
    WriteIni("[ComPort1]\nPort=" + Link() + "\n");
    Show();
    ASSERT_EQ(window_->PanelText(0).toStdString(), "대기중");
  }
  std::string Link() const { return folder_.File("instrument"); }
  void Choose(const char* name) {
    std::unique_ptr<QMenu> menu(window_->LogMenu());
    menu->findChild<QAction*>(QLatin1String(name))->trigger();
  }

  void Send(const std::string& command) {
    window_->EdtData()->setText(QString::fromLatin1(command.c_str()));
    window_->BbtSend()->click();
  }
  bool WaitForLines(size_t count) {
    return ServeUntil([&] { return LogLines().size() >= count; });
  }

  std::unique_ptr<e2e::SimulatorProcess> sim_;
};

TEST_F(ConsoleWithSimulator, TheSimulatorRemovesItsLinkWhenStopped) {
  for (int signal : {SIGTERM, SIGINT}) {
    StartSimulator();
    EXPECT_TRUE(std::filesystem::is_symlink(Link()));
    sim_->Kill(signal);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Link())));
  }
}

TEST_F(ConsoleWithSimulator, PresetsAreAnsweredAndLogged) {
  StartSimulator();
  StartConsole();
  const std::vector<std::string> replies = {"01WHO,SIM-TC100,V1.0", "01DRS,OK,0250",
                                            "01DRS,OK,0300"};
  std::vector<std::string> expected;
  for (int preset = 0; preset < 3; ++preset) {
    window_->ComboBox1()->setCurrentIndex(preset);
    window_->ComboBox1()->showPopup();
    window_->ComboBox1()->hidePopup();
    window_->BbtSend()->click();
    expected.push_back("[Send] => " + STX + window_->EdtData()->text().toStdString());
    expected.push_back("[Rcv] => " + replies[static_cast<size_t>(preset)]);
    ASSERT_TRUE(WaitForLines(expected.size()));
  }
  EXPECT_EQ(LogLines(), expected);
}

TEST_F(ConsoleWithSimulator, EchoesAreHiddenAndSplitNoisyRepliesAssembled) {
  // The echo comes at once, the reply after the instrument's turnaround.
  StartSimulator({"--echo", "--delay", "150", "--split", "4", "--split-gap", "30", "--noise", "6"});
  StartConsole();
  Send("01WHO");
  ASSERT_TRUE(WaitForLines(2));
  Send("01XYZ");
  ASSERT_TRUE(WaitForLines(4));
  EXPECT_EQ(LogLines(),
            (std::vector<std::string>{"[Send] => " + STX + "01WHO", "[Rcv] => 01WHO,SIM-TC100,V1.0",
                                      "[Send] => " + STX + "01XYZ", "[Rcv] => 01NG,01"}));
}

// An echo with no turnaround after it shares its delivery with the answer most of the time.
TEST_F(ConsoleWithSimulator, AnEchoGluedToTheAnswerIsStillHidden) {
  StartSimulator({"--echo", "--delay", "0"});
  StartConsole();
  std::vector<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    Send("01WHO");
    expected.push_back("[Send] => " + STX + "01WHO");
    expected.push_back("[Rcv] => 01WHO,SIM-TC100,V1.0");
    ASSERT_TRUE(WaitForLines(expected.size()));
  }
  EXPECT_EQ(LogLines(), expected);
}

// Every frame of the stream exactly once, intact, in order, each on its own log line.
TEST_F(ConsoleWithSimulator, AStreamOfTenThousandFramesArrivesWhole) {
  constexpr int kFrames = 10000;
  StartSimulator({"--stream", std::to_string(kFrames), "--rate", "0"});
  StartConsole();
  Send("01STREAM");
  ASSERT_TRUE(WaitForLines(kFrames + 2));
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kFrames + 2));
  EXPECT_EQ(lines[1], "[Rcv] => 01STREAM,OK");
  for (int seq = 1; seq <= kFrames; ++seq) {
    ASSERT_EQ(lines[static_cast<size_t>(seq + 1)],
              "[Rcv] => " + sim::StreamText(static_cast<uint32_t>(seq)))
        << seq;
  }
}

TEST_F(ConsoleWithSimulator, AKilledSimulatorIsToldOnceAndTheButtonReopens) {
  StartSimulator({"--stream", "100000", "--rate", "2000"});
  StartConsole();
  Send("01STREAM");
  ASSERT_TRUE(ServeUntil([&] { return LogLines().size() > 20; }));
  sim_->Kill(SIGKILL);
  ASSERT_TRUE(ServeUntil([&] { return !boxes_.empty(); }));
  // Whichever call meets the vanished device first ends the event thread and says so.
  EXPECT_NE(boxes_[0].text.find("failed (win error code: 5)"), std::string::npos) << boxes_[0].text;
  EXPECT_EQ(window_->PanelText(0), "ERROR");

  Send("01WHO");  // still usable: the lost port was closed, nothing hangs
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].text, "WriteFile function failed (win error code: 6)");

  StartSimulator();
  QTimer::singleShot(0, [] {
    auto* dialog = qobject_cast<cport::TComSetupFrm*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->OkButton()->click();
  });
  window_->BitBtn1()->click();
  EXPECT_EQ(window_->PanelText(0).toStdString(), "대기중");
  window_->SpeedButton1()->click();
  Send("01WHO");
  ASSERT_TRUE(WaitForLines(2));
  EXPECT_EQ(LogLines().back(), "[Rcv] => 01WHO,SIM-TC100,V1.0");
}

// With the switch on, the port opens again by itself when its adapter comes back under
// the same name, and not when only another one appears.
TEST_F(ConsoleWithSimulator, ThePortReconnectsWhenTheSameAdapterComesBack) {
  StartSimulator();
  StartConsole();
  std::unique_ptr<QMenu> menu(window_->LogMenu());
  menu->findChild<QAction*>(QStringLiteral("reconnect"))->trigger();
  sim_->Kill(SIGTERM);
  ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0) == "ERROR"; }));
  ASSERT_EQ(boxes_.size(), 1u);

  const std::string other = folder_.File("other-instrument");
  auto stranger = std::make_unique<e2e::SimulatorProcess>(other, std::vector<std::string>{});
  ASSERT_TRUE(stranger->Ready());
  const int checks = window_->Watch().Checks();
  ASSERT_TRUE(ServeUntil([&] { return window_->Watch().Checks() > checks; }));
  EXPECT_EQ(window_->PanelText(0), "ERROR") << "another adapter is not taken";

  StartSimulator();
  ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0).toStdString() == "대기중"; }));
  window_->SpeedButton1()->click();
  Send("01WHO");
  ASSERT_TRUE(WaitForLines(2));
  EXPECT_EQ(LogLines().back(), "[Rcv] => 01WHO,SIM-TC100,V1.0");
  EXPECT_EQ(boxes_.size(), 1u);
}

// However the port went down, with the switch on it comes back with its adapter: an
// adapter back before the loss was handled, a port that failed at start, a switch turned
// on only after the loss.
TEST_F(ConsoleWithSimulator, TheSwitchFindsTheAdapterHoweverThePortWentDown) {
  const std::vector<std::string> ways = {"a fast replug", "a failed start",
                                         "a switch turned on late"};
  for (const std::string& way : ways) {
    SCOPED_TRACE(way);
    window_.reset();
    RecordBoxes();
    std::filesystem::remove(IniPath());
    if (way == "a failed start") {
      sim_.reset();
      WriteIni("[ComPort1]\nPort=" + Link() + "\n[Console]\nReconnect=1\n");
      Show();
      ASSERT_EQ(window_->PanelText(0), "ERROR");
      StartSimulator();
    } else {
      StartSimulator();
      StartConsole();
      if (way == "a fast replug") Choose("reconnect");
      sim_->Kill(SIGTERM);
      if (way == "a fast replug") StartSimulator();  // back before the loss is handled
      ASSERT_TRUE(ServeUntil([&] { return !boxes_.empty(); })) << "the loss is told";
      if (way == "a switch turned on late") {
        StartSimulator();
        Choose("reconnect");
      }
    }
    ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0).toStdString() == "대기중"; }));
    window_->SpeedButton1()->click();
    Send("01WHO");
    ASSERT_TRUE(WaitForLines(2));
    EXPECT_EQ(LogLines().back(), "[Rcv] => 01WHO,SIM-TC100,V1.0");
  }
}

// The box that told of the loss, or of a failed start, goes when the port is back; a real
// box, whose loop serves the adapter's return.
TEST_F(ConsoleWithSimulator, TheTroubleBoxGoesWhenThePortIsBack) {
  for (const std::string way : {"a loss", "a failed start"}) {
    SCOPED_TRACE(way);
    window_.reset();
    sim_.reset();
    funcp::SetMessageBoxHook(nullptr);
    struct OnBox : QObject {
      std::function<void()> act;
      bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && qobject_cast<QMessageBox*>(watched) && act) {
          std::exchange(act, nullptr)();
        }
        return false;
      }
    } onBox;
    bool shown = false;
    onBox.act = [&] {
      shown = true;
      QTimer::singleShot(0, [&] { StartSimulator(); });
    };
    bool leftOpen = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        leftOpen = true;
        box->done(QMessageBox::Ok);
      }
    });
    if (way == "a loss") {
      StartSimulator();
      StartConsole();
      Choose("reconnect");
      qApp->installEventFilter(&onBox);
      watchdog.start(10000);
      sim_->Kill(SIGTERM);
    } else {
      std::filesystem::remove(IniPath());
      WriteIni("[ComPort1]\nPort=" + Link() + "\n[Console]\nReconnect=1\n");
      qApp->installEventFilter(&onBox);
      watchdog.start(10000);
      Show();
    }
    ASSERT_TRUE(ServeUntil([&] {
      return shown && window_->PanelText(0).toStdString() == "대기중" &&
             !QApplication::activeModalWidget();
    }));
    qApp->removeEventFilter(&onBox);
    EXPECT_FALSE(leftOpen);
  }
}

// Through a device server: the simulator behind ser2net, the console's port its
// rfc2217:// name. With Reconnect on, the console comes back by itself with the server.
TEST_F(ConsoleWithSimulator, ThroughSer2netAndBackWhenTheServerIs) {
  StartSimulator();
  platform::testing::ServedPort served(platform::testing::ServedPort::Server::Ser2net,
                                       std::filesystem::canonical(Link()).string());
  ASSERT_TRUE(served.Serving());
  WriteIni("[ComPort1]\nPort=" + served.Url() + "\n[Console]\nReconnect=1\n");
  Show();
  ASSERT_EQ(window_->PanelText(0).toStdString(), "대기중") << window_->PanelTip(0).toStdString();
  EXPECT_EQ(window_->PanelText(1).toStdString(), served.Url().substr(10)) << "host:port";
  for (int round = 0; round < 2; ++round) {
    window_->SpeedButton1()->click();
    Send("01WHO");
    ASSERT_TRUE(WaitForLines(2));
    EXPECT_EQ(LogLines().back(), "[Rcv] => 01WHO,SIM-TC100,V1.0");
    if (round == 1) break;
    served.Stop();
    ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0) == "ERROR"; }));
    ASSERT_TRUE(served.Start());
    ASSERT_TRUE(ServeUntil([&] { return window_->PanelText(0).toStdString() == "대기중"; }));
  }
  EXPECT_EQ(boxes_.size(), 1u) << "the loss is told once";
}

}  // namespace
}  // namespace console::testing
