#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <cstdint>
#include <string>

#include "app/log_lines.h"
#include "app/log_view.h"

namespace console {

// The log once the operator has edited it: an ordinary text document in the fast view's
// looks, holding what the view showed. New lines still come in at its end, a batch at a
// time, within the store's budgets, the oldest lines going first. Its text outside the
// window is the log's own: CR and LF where the view shows their pictures.
class LogDocument : public QPlainTextEdit {
 public:
  explicit LogDocument(QWidget* parent, size_t maxLines = LogLines::kMaxLines,
                       size_t maxChars = LogLines::kMaxBytes);

  // Shows itself with the store's lines, where the view was; the caret or the selection
  // is the view's.
  void TakeOver(const LogLines& lines, const LogView::Place& place);
  // The store's lines from `from` (counted since the log began) to its newest.
  void Append(const LogLines& lines, uint64_t from);

  // Each line followed by an LF.
  QString Text() const;
  // Likewise, one byte a character where it fits, the operator's other characters as UTF-8.
  std::string Bytes() const;

 protected:
  QMimeData* createMimeDataFromSelection() const override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  void Place(const LogView::Place& place);
  int Trim();

  size_t maxLines_;
  size_t maxChars_;
};

}  // namespace console
