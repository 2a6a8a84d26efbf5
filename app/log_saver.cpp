#include "app/log_saver.h"

#include <QFile>

namespace console {
namespace {

std::string WriteFile(const std::string& path, const std::string& bytes) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
      file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
          static_cast<qint64>(bytes.size()) ||
      !file.flush()) {
    return "Unable to write to " + path + ": " + file.errorString().toStdString();
  }
  return {};
}

}  // namespace

LogSaver::~LogSaver() {
  if (thread_.joinable()) thread_.join();
}

void LogSaver::Save(const std::string& path, std::string bytes, Done done) {
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this, path, bytes = std::move(bytes), done = std::move(done)] {
    const std::string error = WriteFile(path, bytes);
    QMetaObject::invokeMethod(
        this, [done, error] { done(error); }, Qt::QueuedConnection);
  });
}

}  // namespace console
