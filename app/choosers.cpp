#include "app/choosers.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>

namespace console {
namespace {

std::function<std::string(const std::string&)>& FileHook() {
  static std::function<std::string(const std::string&)> hook;
  return hook;
}

std::function<std::optional<int>(int)>& IntervalHook() {
  static std::function<std::optional<int>(int)> hook;
  return hook;
}

}  // namespace

void SetFileChooserHook(std::function<std::string(const std::string&)> hook) {
  FileHook() = std::move(hook);
}

void SetIntervalChooserHook(std::function<std::optional<int>(int)> hook) {
  IntervalHook() = std::move(hook);
}

std::string ChooseSaveFile(const std::string& title) {
  if (FileHook()) return FileHook()(title);
  return QFileDialog::getSaveFileName(QApplication::activeWindow(), QString::fromStdString(title))
      .toStdString();
}

std::optional<int> ChoosePollInterval(int current) {
  if (IntervalHook()) return IntervalHook()(current);
  bool ok = false;
  const int ms =
      QInputDialog::getInt(QApplication::activeWindow(), QStringLiteral("Polling"),
                           QStringLiteral("Send every (ms):"), current, 10, 3600000, 100, &ok);
  return ok ? std::optional<int>(ms) : std::nullopt;
}

}  // namespace console
