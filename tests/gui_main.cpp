// GoogleTest main for suites that need a Qt application; CTest runs them offscreen.
#include <gtest/gtest.h>

#include <QApplication>

#include "app/bundled_fonts.h"
#include "app/error_display.h"
#include "cportsetup/setup_dialog.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  console::AddBundledFonts();
  console::InstallApplicationHooks();
  cport::InstallSetupDialog();
  return RUN_ALL_TESTS();
}
