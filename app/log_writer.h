#pragma once

#include <QObject>
#include <QTimer>
#include <string_view>

#include "app/log_lines.h"

class QPlainTextEdit;

namespace console {

// Writes the log's lines into its store at once and shows them in the view. Received lines
// reach the view in batches, one append for all that came in an interval, so a fast stream
// cannot keep the window from answering; the view lets go of what the store let go of.
class LogWriter : public QObject {
 public:
  static constexpr int kBatchMs = 30;

  explicit LogWriter(QPlainTextEdit* view);

  // Shown at once, after whatever waits, so the log keeps the order of events.
  void AddNow(std::string_view line);
  void AddBatched(std::string_view line);
  void Flush();
  void Clear();

  const LogLines& Lines() const { return lines_; }

 private:
  QPlainTextEdit* view_;
  QTimer timer_;
  LogLines lines_;
  uint64_t shownAppended_ = 0;  // lines_.Appended() when the view last caught up
  size_t shownCount_ = 0;       // lines in the view
};

// A log line as the view shows it: one character per byte, and a CR or LF inside the line
// as its control picture, so that one line of the log is one line on screen.
QString ShownLine(std::string_view line);

}  // namespace console
