#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <string_view>

#include "app/log_lines.h"

class QEvent;
class QWidget;

namespace console {

class LogDocument;
class LogView;

// Writes the log's lines into its store at once; the view is told in batches, one look
// for all the lines that came in an interval, so a fast stream cannot keep the window from
// answering. The batch timer runs only while lines wait to be shown.
// The fast view shows the log until the operator edits it; from then on the editable
// document does, and takes each batch at its end, until the log is cleared.
class LogWriter : public QObject {
 public:
  static constexpr int kBatchMs = 30;

  // Makes the view and the document of the log in parent.
  explicit LogWriter(QWidget* parent);

  // Shown at once, after whatever waits, so the log keeps the order of events.
  void AddNow(std::string_view line);
  void AddBatched(std::string_view line);
  void Flush();
  // Empties the log and shows it in the fast view again.
  void Clear();

  // Applies an edit to the document, taking the log over from the view first.
  void Edit(const std::function<void(LogDocument&)>& edit);
  bool Edited() const { return edited_; }
  // What the operator sees: the store's lines, or the document's text once edited.
  QString Text();
  std::string Bytes();
  // Whatever shows the log: what is picked or selected in it.
  bool Picked() const;
  void Copy();
  void SelectAll();

  const LogLines& Lines() const { return lines_; }
  LogView* View() const { return view_; }
  LogDocument* Document() const { return document_; }

 private:
  void StartEditing();
  void EditWith(QEvent* event);

  LogLines lines_;
  LogView* view_;
  LogDocument* document_;
  QTimer timer_;
  bool pending_ = false;
  bool edited_ = false;
  uint64_t inDocument_ = 0;  // the store's lines the document has, since the log began
};

}  // namespace console
