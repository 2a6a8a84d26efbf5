#include "app/log_document.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <algorithm>

#include "app/glyph_cells.h"

namespace console {
namespace {

void AppendShown(QString& text, std::string_view bytes) {
  for (const char byte : bytes) text.append(ShownChar(static_cast<unsigned char>(byte)));
}

// The document's own separators and the view's pictures back to the log's bytes.
QChar LogChar(QChar c) {
  if (c == QChar::ParagraphSeparator || c == QChar::LineSeparator) return QLatin1Char('\n');
  if (c == ShownChar('\r')) return QLatin1Char('\r');
  if (c == ShownChar('\n')) return QLatin1Char('\n');
  return c;
}

QString LogText(QString text) {
  for (QChar& c : text) c = LogChar(c);
  return text;
}

}  // namespace

LogDocument::LogDocument(QWidget* parent, size_t maxLines, size_t maxChars)
    : QPlainTextEdit(parent), maxLines_(maxLines), maxChars_(maxChars) {
  setUndoRedoEnabled(false);  // an undo could take back lines the port brought
  setTabChangesFocus(true);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setWordWrapMode(QTextOption::WrapAnywhere);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, QColor(kLogBackground));
  colours.setColor(QPalette::Text, QColor(kLogText));
  colours.setColor(QPalette::Highlight, QColor(kLogText));
  colours.setColor(QPalette::HighlightedText, QColor(kLogBackground));
  setPalette(colours);
  hide();
}

void LogDocument::TakeOver(const LogLines& lines, const LogView::Place& place) {
  QString text;
  text.reserve(static_cast<qsizetype>(lines.Bytes() + lines.Count()));
  for (size_t i = 0; i < lines.Count(); ++i) {
    if (i > 0) text.append(QLatin1Char('\n'));
    AppendShown(text, lines.Line(i));
  }
  setPlainText(text);
  show();
  Place(place);
}

// First the view's scroll position, then its caret or selection, which scrolls only when
// it is off screen: an edit at the end shows the end.
void LogDocument::Place(const LogView::Place& place) {
  QScrollBar* bar = verticalScrollBar();
  const QTextDocument* doc = document();
  bar->setValue(place.following
                    ? bar->maximum()
                    : doc->findBlockByNumber(static_cast<int>(place.top)).firstLineNumber());
  QTextCursor cursor(document());
  if (place.span) {
    const QTextBlock last = doc->findBlockByNumber(static_cast<int>(place.span->second));
    cursor.setPosition(doc->findBlockByNumber(static_cast<int>(place.span->first)).position());
    cursor.setPosition(last.position() + last.length() - 1, QTextCursor::KeepAnchor);
  } else if (place.caret) {
    const QTextBlock line = doc->findBlockByNumber(static_cast<int>(place.caret->first));
    const int column = std::min(static_cast<int>(place.caret->second), line.length() - 1);
    cursor.setPosition(line.position() + column);
  } else {
    cursor.movePosition(QTextCursor::End);
  }
  setTextCursor(cursor);
}

// One append for the batch. Scrolled back, the view stays on its lines while the oldest
// go, unless they are gone too.
void LogDocument::Append(const LogLines& lines, uint64_t from) {
  const uint64_t first = std::max(from, lines.Dropped());
  if (first >= lines.Appended()) return;
  QString batch;
  for (uint64_t line = first; line < lines.Appended(); ++line) {
    if (line > first) batch.append(QLatin1Char('\n'));
    AppendShown(batch, lines.Line(static_cast<size_t>(line - lines.Dropped())));
  }
  appendPlainText(batch);
  QScrollBar* bar = verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  const int top = bar->value();
  const int removed = Trim();
  if (removed == 0) return;
  bar->setValue(atEnd ? bar->maximum() : std::max(0, top - removed));
}

// Lets the oldest lines go until both budgets hold, the newest line always kept; gives how
// many rows of the view went with them.
int LogDocument::Trim() {
  QTextDocument* doc = document();
  size_t blocks = static_cast<size_t>(doc->blockCount());
  size_t chars = static_cast<size_t>(doc->characterCount()) - blocks;
  QTextBlock keep = doc->firstBlock();
  int rows = 0;
  while (blocks > 1 && (blocks > maxLines_ || chars > maxChars_)) {
    chars -= static_cast<size_t>(keep.length() - 1);
    --blocks;
    rows += std::max(1, keep.lineCount());
    keep = keep.next();
  }
  if (rows == 0) return 0;
  QTextCursor cut(doc);
  cut.setPosition(keep.position(), QTextCursor::KeepAnchor);
  cut.removeSelectedText();
  return rows;
}

QString LogDocument::Text() const {
  if (document()->isEmpty()) return {};
  return LogText(document()->toRawText()) + QLatin1Char('\n');
}

// Copied or cut, the text is the log's, as the fast view's copy is.
QMimeData* LogDocument::createMimeDataFromSelection() const {
  auto* data = new QMimeData;
  data->setText(LogText(textCursor().selectedText()));
  return data;
}

// A CR without its LF stays inside its line, as the log shows one.
void LogDocument::insertFromMimeData(const QMimeData* source) {
  if (!source->hasText()) return;
  QString text = source->text();
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(QLatin1Char('\r'), ShownChar('\r'));
  QTextCursor cursor = textCursor();
  cursor.insertText(text);
  setTextCursor(cursor);
}

std::string LogDocument::Bytes() const {
  const QString text = Text();
  std::string bytes;
  bytes.reserve(static_cast<size_t>(text.size()));
  for (qsizetype i = 0; i < text.size();) {
    if (text[i].unicode() < 0x100) {
      bytes.push_back(static_cast<char>(text[i++].unicode()));
      continue;
    }
    qsizetype end = i;
    while (end < text.size() && text[end].unicode() >= 0x100) ++end;
    bytes.append(text.mid(i, end - i).toUtf8().toStdString());
    i = end;
  }
  return bytes;
}

}  // namespace console
