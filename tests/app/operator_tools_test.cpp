// What the console offers the technician beyond its specified window: explanations of
// failures, the log's switches, polling and reconnecting.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "console_fixture.h"

namespace console::testing {
namespace {

TEST_F(ConsoleTest, AFailedOpenSaysWhyUnderTheBoxAndInPanelZero) {
  WriteIni("[ComPort1]\nPort=comtest-no-such-port\n");
  Show();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "통신 불량");
  EXPECT_EQ(boxes_[0].details.rfind("/dev/comtest-no-such-port does not exist.", 0), 0u)
      << boxes_[0].details;
  EXPECT_EQ(window_->PanelTip(0).toStdString(), boxes_[0].details);
}

}  // namespace
}  // namespace console::testing
