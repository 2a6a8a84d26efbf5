#include <QApplication>

#include "app/bundled_fonts.h"
#include "app/error_display.h"
#include "app/main_window.h"
#include "cportsetup/setup_dialog.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(QString::fromUtf8("통신Test"));
  console::AddBundledFonts();
  console::InstallApplicationHooks();
  cport::InstallSetupDialog();
  console::TVex_ComTestF window;
  window.show();
  return QApplication::exec();
}
