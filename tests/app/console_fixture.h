#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "../temp_folder.h"
#include "app/func_p.h"
#include "app/log_writer.h"
#include "app/main_window.h"
#include "platform/comm/virtual_line.h"
#include "platform/sync/main_thread.h"

namespace console::testing {

using testing_support::TempFolder;

struct ShownBox {
  std::string text, caption;
  uint32_t flags;
  std::string details;
};

// The console in a temporary folder, its default port "COM1" a virtual line (tests never
// touch the machine's serial ports), message boxes recorded instead of shown.
class ConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    com1_ = platform::InstallVirtualPort("COM1");
    funcp::ExePath = folder_.Path().string() + "/";
    RecordBoxes();
  }
  void RecordBoxes() {
    boxes_.clear();
    funcp::SetMessageBoxHook([this](const std::string& text, const std::string& caption,
                                    uint32_t flags, const std::string& details) {
      boxes_.push_back({text, caption, flags, details});
      return funcp::IDOK;
    });
  }
  void TearDown() override {
    window_.reset();
    funcp::SetMessageBoxHook(nullptr);
    platform::RemoveVirtualPort("COM1");
  }

  std::string IniPath() const { return folder_.File("Main.Ini"); }
  void WriteIni(const std::string& text) const { TempFolder::Write(IniPath(), text); }

  void Show() {
    window_ = std::make_unique<TVex_ComTestF>();
    window_->show();
    QApplication::processEvents();
  }

  // Serves Qt and the port's events until done holds; a generous limit fails the test.
  bool ServeUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "timed out";
        return false;
      }
      QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
      platform::CheckSynchronize();
    }
    return true;
  }

  // The log's lines as logged, batched ones included.
  std::vector<std::string> LogLines() const {
    std::vector<std::string> lines;
    const ::console::LogLines& log = window_->Log().Lines();
    for (size_t i = 0; i < log.Count(); ++i) lines.emplace_back(log.Line(i));
    return lines;
  }

  TempFolder folder_;
  std::shared_ptr<platform::VirtualPort> com1_;
  std::vector<ShownBox> boxes_;
  std::unique_ptr<TVex_ComTestF> window_;
};

}  // namespace console::testing
