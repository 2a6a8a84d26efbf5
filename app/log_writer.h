#pragma once

#include <QObject>
#include <QTimer>
#include <string_view>

#include "app/log_lines.h"

class QWidget;

namespace console {

class LogView;

// Writes the log's lines into its store at once; the view is told in batches, one look
// for all the lines that came in an interval, so a fast stream cannot keep the window from
// answering. The batch timer runs only while lines wait to be shown.
class LogWriter : public QObject {
 public:
  static constexpr int kBatchMs = 30;

  // Makes the view of the log in parent.
  explicit LogWriter(QWidget* parent);

  // Shown at once, after whatever waits, so the log keeps the order of events.
  void AddNow(std::string_view line);
  void AddBatched(std::string_view line);
  void Flush();
  void Clear();

  const LogLines& Lines() const { return lines_; }
  LogView* View() const { return view_; }

 private:
  LogLines lines_;
  LogView* view_;
  QTimer timer_;
  bool pending_ = false;
};

}  // namespace console
