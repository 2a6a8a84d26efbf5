#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QString>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "app/glyph_cells.h"
#include "app/log_lines.h"

namespace console {

// The log as the window shows it: of the store's lines only those on screen are laid out
// and painted, however many the store keeps, so a long log or a fast stream costs the
// window no more than a screenful. Long lines wrap at the right edge. Scrolled to its end
// the view follows the newest line; scrolled back it stays on the lines it shows while the
// store takes more. Whole lines are picked with the mouse and copied. The view edits
// nothing: an edit the operator starts is handed on, with where it goes.
class LogView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // Where the operator is in the log, in the store's lines (0 the oldest kept).
  struct Place {
    bool following = true;
    size_t top = 0;  // the first line on screen
    // Lines picked by dragging, Shift or Select All, first and last: what an edit replaces.
    std::optional<std::pair<size_t, size_t>> span;
    // The line and character last clicked: where an edit goes when no span is picked.
    std::optional<std::pair<size_t, size_t>> caret;
  };

  explicit LogView(const LogLines& lines, QWidget* parent = nullptr);

  // The store took or let go of lines since the view last looked.
  void LinesChanged();
  void SelectAll();
  // Forgets the pick and the caret.
  void ClearSelection();
  bool Picked() const { return picked_; }
  // The picked lines as received, one per line; empty when none is picked.
  QString SelectedText() const;
  void CopySelection() const;
  // The log lines on screen after the last paint, oldest first.
  std::vector<size_t> ShownLines() const;
  Place Where() const;

 signals:
  // A key or input that would change the text: typing, Backspace, Delete, Enter, paste, cut.
  void Editing(QEvent* event);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;

 private:
  class ScrollBar;
  struct Shown {
    uint64_t line;  // counted from the first line the log ever had
    int top;
    int bottom;
  };

  int Columns() const;
  int RowsOf(std::string_view line) const;
  std::string_view Bytes(uint64_t line) const;
  void PrepareCells();
  void PrepareCanvas();
  void PaintLine(uint64_t line, int top);
  int PaintUpwards(uint64_t from);
  void PaintDownwards(uint64_t from);
  void PlaceScrollBar();
  std::optional<uint64_t> LineAt(int y) const;
  std::optional<std::pair<uint64_t, size_t>> CharAt(QPoint at) const;
  bool Edits(const QKeyEvent& key) const;
  bool Selected(uint64_t line) const;
  void Pick(uint64_t line, bool extend);

  const LogLines& lines_;
  ScrollBar* bar_;
  GlyphCells cells_;
  QImage canvas_;        // the viewport's pixels, painted anew each time
  uint64_t bottom_ = 0;  // the newest line shown when not following
  bool following_ = true;
  std::vector<Shown> shown_;
  uint64_t anchor_ = 0, cursor_ = 0;
  bool picked_ = false;
  bool spanned_ = false;
  std::optional<std::pair<uint64_t, size_t>> caret_;
};

}  // namespace console
