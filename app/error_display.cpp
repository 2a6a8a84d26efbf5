#include "app/error_display.h"

#include <QCoreApplication>
#include <exception>

#include "app/func_p.h"
#include "platform/process/error_display.h"
#include "platform/sync/main_thread.h"

namespace console {

std::string ErrorDisplayText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

namespace {

std::string MessageOf(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace

void ShowErrorBox(std::exception_ptr error, const std::string& details) {
  funcp::ShowMessageBox(ErrorDisplayText(MessageOf(error)), "통신Test", funcp::MB_ICONERROR,
                        details);
}

void InstallApplicationHooks() {
  platform::SetErrorDisplay([](std::exception_ptr error) { ShowErrorBox(error); });
  platform::SetMainThreadWakeup([] {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { platform::CheckSynchronize(); }, Qt::QueuedConnection);
  });
}

}  // namespace console
