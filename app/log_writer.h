#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QPlainTextEdit;

namespace console {

// Writes the log's lines. Received lines are appended in batches, one repaint for all
// that came in an interval, so a fast stream cannot keep the window from answering; the
// log keeps at most kMaxLines lines and lets the oldest go.
class LogWriter : public QObject {
 public:
  static constexpr int kMaxLines = 100000;  // about three hours at 10 frames a second
  static constexpr int kBatchMs = 30;

  explicit LogWriter(QPlainTextEdit* view);

  // Appends at once, after whatever waits, so the log keeps the order of events.
  void AddNow(const QString& line);
  void AddBatched(const QString& line);
  void Flush();
  void Clear();

 private:
  QPlainTextEdit* view_;
  QTimer timer_;
  QStringList pending_;
};

}  // namespace console
