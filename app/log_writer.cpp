#include "app/log_writer.h"

#include <QCoreApplication>

#include "app/log_document.h"
#include "app/log_view.h"

namespace console {

LogWriter::LogWriter(QWidget* parent)
    : QObject(parent), view_(new LogView(lines_, parent)), document_(new LogDocument(parent)) {
  timer_.setSingleShot(true);
  timer_.setInterval(kBatchMs);
  connect(&timer_, &QTimer::timeout, this, &LogWriter::Flush);
  connect(view_, &LogView::Editing, this, &LogWriter::EditWith);
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
  if (!edited_) {
    view_->LinesChanged();
    return;
  }
  document_->Append(lines_, inDocument_);
  inDocument_ = lines_.Appended();
}

void LogWriter::Clear() {
  timer_.stop();
  pending_ = false;
  lines_.Clear();
  view_->ClearSelection();
  view_->LinesChanged();
  if (!edited_) return;
  edited_ = false;
  view_->show();
  if (document_->window()->focusWidget() == document_) view_->setFocus();
  document_->hide();
  document_->clear();
}

// The document takes what waits too; the view gets the focus back only from Clear.
void LogWriter::StartEditing() {
  if (edited_) return;
  edited_ = true;
  timer_.stop();
  pending_ = false;
  inDocument_ = lines_.Appended();
  document_->TakeOver(lines_, view_->Where());
  document_->setFocus();
  view_->hide();
}

void LogWriter::EditWith(QEvent* event) {
  StartEditing();
  QCoreApplication::sendEvent(document_, event);
}

void LogWriter::Edit(const std::function<void(LogDocument&)>& edit) {
  StartEditing();
  edit(*document_);
}

QString LogWriter::Text() {
  if (!edited_) {
    const std::string text = lines_.Text();
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  }
  Flush();
  return document_->Text();
}

std::string LogWriter::Bytes() {
  if (!edited_) return lines_.Text();
  Flush();
  return document_->Bytes();
}

bool LogWriter::Picked() const {
  return edited_ ? document_->textCursor().hasSelection() : view_->Picked();
}

void LogWriter::Copy() {
  if (edited_) {
    document_->copy();
  } else {
    view_->CopySelection();
  }
}

void LogWriter::SelectAll() {
  if (edited_) {
    document_->selectAll();
  } else {
    view_->SelectAll();
  }
}

}  // namespace console
