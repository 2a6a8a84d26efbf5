#include "app/log_writer.h"

#include <QPlainTextEdit>

namespace console {

LogWriter::LogWriter(QPlainTextEdit* view) : QObject(view), view_(view) {
  view_->setMaximumBlockCount(kMaxLines);
  timer_.setSingleShot(true);
  timer_.setInterval(kBatchMs);
  connect(&timer_, &QTimer::timeout, this, &LogWriter::Flush);
}

void LogWriter::AddNow(const QString& line) {
  Flush();
  view_->appendPlainText(line);
}

void LogWriter::AddBatched(const QString& line) {
  // Lines beyond what the log keeps would only be appended to be thrown away.
  if (pending_.size() >= kMaxLines) pending_.removeFirst();
  pending_.append(line);
  if (!timer_.isActive()) timer_.start();
}

void LogWriter::Flush() {
  timer_.stop();
  if (pending_.isEmpty()) return;
  view_->appendPlainText(pending_.join(QLatin1Char('\n')));
  pending_.clear();
}

void LogWriter::Clear() {
  timer_.stop();
  pending_.clear();
  view_->clear();
}

}  // namespace console
