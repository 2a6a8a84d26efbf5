#include "app/log_writer.h"

#include "app/log_view.h"

namespace console {

LogWriter::LogWriter(QWidget* parent) : QObject(parent), view_(new LogView(lines_, parent)) {
  timer_.setSingleShot(true);
  timer_.setInterval(kBatchMs);
  connect(&timer_, &QTimer::timeout, this, &LogWriter::Flush);
}

void LogWriter::AddNow(std::string_view line) {
  lines_.Append(line);
  pending_ = true;
  Flush();
}

void LogWriter::AddBatched(std::string_view line) {
  lines_.Append(line);
  pending_ = true;
  if (!timer_.isActive()) timer_.start();
}

void LogWriter::Flush() {
  timer_.stop();
  if (!pending_) return;
  pending_ = false;
  view_->LinesChanged();
}

void LogWriter::Clear() {
  timer_.stop();
  pending_ = false;
  lines_.Clear();
  view_->ClearSelection();
  view_->LinesChanged();
}

}  // namespace console
