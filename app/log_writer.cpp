#include "app/log_writer.h"

#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>

namespace console {
namespace {

constexpr char16_t kControlPictures = 0x2400;

void AppendShown(QString& text, std::string_view line) {
  for (const char b : line) {
    const auto c = static_cast<unsigned char>(b);
    text.append(c == '\r' || c == '\n' ? QChar(kControlPictures + c) : QChar(c));
  }
}

void RemoveFirstBlocks(QPlainTextEdit* view, size_t count) {
  QTextCursor cursor(view->document());
  cursor.movePosition(QTextCursor::Start);
  cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(count));
  cursor.removeSelectedText();
}

}  // namespace

QString ShownLine(std::string_view line) {
  QString text;
  text.reserve(static_cast<qsizetype>(line.size()));
  AppendShown(text, line);
  return text;
}

LogWriter::LogWriter(QPlainTextEdit* view) : QObject(view), view_(view) {
  timer_.setSingleShot(true);
  timer_.setInterval(kBatchMs);
  connect(&timer_, &QTimer::timeout, this, &LogWriter::Flush);
}

void LogWriter::AddNow(std::string_view line) {
  lines_.Append(line);
  Flush();
}

void LogWriter::AddBatched(std::string_view line) {
  lines_.Append(line);
  if (!timer_.isActive()) timer_.start();
}

// The view takes what the store took since it last looked, in one append, and lets go of
// as many of its oldest lines as the store did.
void LogWriter::Flush() {
  timer_.stop();
  const size_t fresh =
      static_cast<size_t>(std::min<uint64_t>(lines_.Appended() - shownAppended_, lines_.Count()));
  if (fresh == 0) return;
  const size_t kept = lines_.Count() - fresh;
  if (kept == 0) {
    view_->clear();
  } else if (shownCount_ > kept) {
    RemoveFirstBlocks(view_, shownCount_ - kept);
  }
  QString text;
  for (size_t i = kept; i < lines_.Count(); ++i) {
    if (i > kept) text.append(QLatin1Char('\n'));
    AppendShown(text, lines_.Line(i));
  }
  view_->appendPlainText(text);
  shownAppended_ = lines_.Appended();
  shownCount_ = lines_.Count();
}

void LogWriter::Clear() {
  timer_.stop();
  lines_.Clear();
  view_->clear();
  shownAppended_ = lines_.Appended();
  shownCount_ = 0;
}

}  // namespace console
