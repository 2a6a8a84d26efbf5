// The console under Wine with the real windows platform plugin, on a COM port that Wine maps
// to the instrument simulator's pseudo-terminal; the script that runs it starts the simulator.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include "../temp_folder.h"
#include "app/func_p.h"
#include "app/log_lines.h"
#include "app/log_view.h"
#include "app/log_writer.h"
#include "app/main_window.h"
#include "platform/sync/main_thread.h"

namespace {

using testing_support::TempFolder;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

bool ServeUntil(const std::function<bool()>& done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    platform::CheckSynchronize();
  }
  return true;
}

bool Logged(const console::TVex_ComTestF& window, const std::string& line) {
  const console::LogLines& log = window.Log().Lines();
  for (size_t i = 0; i < log.Count(); ++i) {
    if (log.Line(i) == line) return true;
  }
  return false;
}

int Colours(const QImage& image) {
  QSet<QRgb> seen;
  for (int y = 0; y < image.height(); y += 2) {
    for (int x = 0; x < image.width(); x += 2) seen.insert(image.pixel(x, y));
  }
  return static_cast<int>(seen.size());
}

TEST(ConsoleUnderWine, AnswersTheSimulatorAndShowsItOnTheScreen) {
  const std::string port = Environment("COMTEST_WINE_PORT");
  ASSERT_FALSE(port.empty()) << "COMTEST_WINE_PORT names the COM port of the simulator";
  TempFolder folder;
  funcp::ExePath = folder.Path().string() + "\\";
  TempFolder::Write(folder.File("Main.Ini"), "[ComPort1]\nPort=" + port + "\n");
  std::string boxes;
  funcp::SetMessageBoxHook(
      [&](const std::string& text, const std::string&, uint32_t, const std::string& details) {
        boxes += text + " " + details + "\n";
        return funcp::IDOK;
      });

  console::TVex_ComTestF window;
  window.show();
  ASSERT_TRUE(ServeUntil([&] { return window.PanelText(0) == QStringLiteral("대기중"); }))
      << window.PanelText(0).toStdString() << boxes;
  window.EdtData()->setText(QStringLiteral("01WHO"));
  window.BbtSend()->click();
  ASSERT_TRUE(ServeUntil([&] { return Logged(window, "[Rcv] => 01WHO,SIM-TC100,V1.0"); })) << boxes;
  EXPECT_EQ(boxes, "");
  ASSERT_TRUE(ServeUntil([&] { return window.Memo1()->ShownLines().size() == 2; }));
  window.repaint();

  const QImage shot = window.screen()->grabWindow(window.winId()).toImage();
  EXPECT_EQ(shot.size(), window.size());
  EXPECT_GT(Colours(shot), 8) << "the picture of the window is blank";
  const std::string file = Environment("COMTEST_SCREENSHOT");
  if (!file.empty()) {
    EXPECT_TRUE(shot.save(QString::fromStdString(file)));
  }
  funcp::SetMessageBoxHook(nullptr);
}

}  // namespace
