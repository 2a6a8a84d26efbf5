#include "app/log_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>
#include <tuple>

namespace console {
namespace {

constexpr int kMargin = 4;

}  // namespace

// A scroll bar that repaints only when it looks different: following a fast stream, its
// range grows with every batch while its handle stays where it is.
class LogView::ScrollBar : public QScrollBar {
 public:
  using QScrollBar::QScrollBar;

  void Place(int maximum, int page, int value) {
    placing_ = true;
    setRange(0, maximum);
    setPageStep(page);
    setValue(value);
    placing_ = false;
    if (Look() != painted_) update();
  }

 protected:
  void sliderChange(SliderChange change) override {
    if (!placing_) QScrollBar::sliderChange(change);
  }
  void paintEvent(QPaintEvent* event) override {
    painted_ = Look();
    QScrollBar::paintEvent(event);
  }

 private:
  using Appearance = std::tuple<QRect, bool, bool>;  // the handle, and whether at either end

  Appearance Look() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
        value() == minimum(), value() == maximum()};
  }

  bool placing_ = false;
  Appearance painted_;
};

LogView::LogView(const LogLines& lines, QWidget* parent)
    : QAbstractScrollArea(parent), lines_(lines) {
  bar_ = new ScrollBar(Qt::Vertical, this);
  setVerticalScrollBar(bar_);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAutoFillBackground(false);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setCursor(Qt::IBeamCursor);
  setAttribute(Qt::WA_InputMethodEnabled);
  PrepareCells();
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    PrepareCells();
    PlaceScrollBar();
    viewport()->update();
  }
}

// Scrolled back, the view shows the same lines while the store takes more, unless the
// store let go of them.
void LogView::LinesChanged() {
  if (lines_.Count() == 0) following_ = true;
  const uint64_t first = lines_.Dropped();
  const bool lost =
      !following_ && (bottom_ < first || (!shown_.empty() && shown_.front().line < first));
  if (!following_ && bottom_ < first) bottom_ = first;
  PlaceScrollBar();
  if (following_ || lost) viewport()->update();
}

// The bar's value is the newest line shown; at its end the view follows.
void LogView::PlaceScrollBar() {
  const int last = static_cast<int>(lines_.Count()) - 1;
  const QSignalBlocker quiet(bar_);
  bar_->Place(std::max(0, last), std::max(1, viewport()->height() / cells_.Height()),
              following_ ? last : static_cast<int>(bottom_ - lines_.Dropped()));
}

void LogView::scrollContentsBy(int, int) {
  QScrollBar* bar = verticalScrollBar();
  following_ = bar->value() >= bar->maximum();
  bottom_ = lines_.Dropped() + static_cast<uint64_t>(std::max(0, bar->value()));
  viewport()->update();
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  PlaceScrollBar();
}

int LogView::Columns() const {
  return std::max(1, (viewport()->width() - 2 * kMargin) / cells_.Width());
}

int LogView::RowsOf(std::string_view line) const {
  const size_t columns = static_cast<size_t>(Columns());
  return std::max(1, static_cast<int>((line.size() + columns - 1) / columns));
}

std::string_view LogView::Bytes(uint64_t line) const {
  return lines_.Line(static_cast<size_t>(line - lines_.Dropped()));
}

// The cells follow the face and the screen.
void LogView::PrepareCells() {
  const qreal ratio = viewport()->devicePixelRatioF();
  if (!cells_.Fits(font(), ratio)) cells_.Make(font(), ratio);
}

// The canvas has the viewport's size.
void LogView::PrepareCanvas() {
  PrepareCells();
  const qreal ratio = cells_.Ratio();
  const QSize size = viewport()->size() * ratio;
  if (canvas_.size() != size) {
    canvas_ = QImage(size, QImage::Format_RGB32);
    canvas_.setDevicePixelRatio(ratio);
  }
  canvas_.fill(kLogBackground);
}

// The line's rows from `top` down, as many characters to a row as the width holds.
void LogView::PaintLine(uint64_t line, int top) {
  const std::string_view bytes = Bytes(line);
  const size_t columns = static_cast<size_t>(Columns());
  const bool picked = Selected(line);
  const int rows = RowsOf(bytes);
  if (picked) {
    const qreal ratio = canvas_.devicePixelRatio();
    for (int y = std::max(0, static_cast<int>(top * ratio));
         y < std::min(canvas_.height(), static_cast<int>((top + rows * cells_.Height()) * ratio));
         ++y) {
      std::fill_n(reinterpret_cast<QRgb*>(canvas_.scanLine(y)), canvas_.width(), kLogText);
    }
  }
  for (int row = 0; row < rows; ++row) {
    cells_.DrawRow(canvas_, kMargin, top + row * cells_.Height(),
                   bytes.substr(static_cast<size_t>(row) * columns, columns), picked);
  }
}

// Newest line at the bottom, older ones above it until the view is full; gives the space
// left above the oldest line painted.
int LogView::PaintUpwards(uint64_t from) {
  int y = viewport()->height();
  for (uint64_t line = from + 1; line-- > lines_.Dropped() && y > 0;) {
    const int top = y - RowsOf(Bytes(line)) * cells_.Height();
    PaintLine(line, top);
    shown_.push_back({line, top, y});
    y = top;
  }
  std::reverse(shown_.begin(), shown_.end());
  return y;
}

void LogView::PaintDownwards(uint64_t from) {
  int y = 0;
  for (uint64_t line = from; line < lines_.Appended() && y < viewport()->height(); ++line) {
    const int bottom = y + RowsOf(Bytes(line)) * cells_.Height();
    PaintLine(line, y);
    shown_.push_back({line, y, bottom});
    y = bottom;
  }
}

// While every line fits, they are shown from the top, as a text that is not full yet.
void LogView::paintEvent(QPaintEvent*) {
  PrepareCanvas();
  shown_.clear();
  if (lines_.Count() > 0) {
    const uint64_t newest = following_ ? lines_.Appended() - 1 : bottom_;
    if (PaintUpwards(newest) > 0) {
      canvas_.fill(kLogBackground);
      shown_.clear();
      PaintDownwards(lines_.Dropped());
    }
  }
  QPainter(viewport()).drawImage(QPoint(0, 0), canvas_);
}

std::vector<size_t> LogView::ShownLines() const {
  std::vector<size_t> lines;
  for (const Shown& s : shown_) {
    if (s.line >= lines_.Dropped()) lines.push_back(static_cast<size_t>(s.line - lines_.Dropped()));
  }
  return lines;
}

std::optional<uint64_t> LogView::LineAt(int y) const {
  for (const Shown& s : shown_) {
    if (y >= s.top && y < s.bottom) return s.line;
  }
  return std::nullopt;
}

// The line under the point and the character boundary nearest to it.
std::optional<std::pair<uint64_t, size_t>> LogView::CharAt(QPoint at) const {
  for (const Shown& s : shown_) {
    if (at.y() < s.top || at.y() >= s.bottom || s.line < lines_.Dropped()) continue;
    const int row = (at.y() - s.top) / cells_.Height();
    const int column =
        std::clamp((at.x() - kMargin + cells_.Width() / 2) / cells_.Width(), 0, Columns());
    const size_t offset = static_cast<size_t>(row * Columns() + column);
    return std::pair(s.line, std::min(offset, Bytes(s.line).size()));
  }
  return std::nullopt;
}

LogView::Place LogView::Where() const {
  Place place;
  place.following = following_;
  const uint64_t first = lines_.Dropped();
  const auto kept = [first](uint64_t line) { return static_cast<size_t>(line - first); };
  if (!shown_.empty() && shown_.front().line >= first) place.top = kept(shown_.front().line);
  const uint64_t from = std::max(std::min(anchor_, cursor_), first);
  const uint64_t to = std::max(anchor_, cursor_);
  if (picked_ && spanned_ && to >= from && to < lines_.Appended()) {
    place.span = std::pair(kept(from), kept(to));
  }
  if (caret_ && caret_->first >= first && caret_->first < lines_.Appended()) {
    place.caret = std::pair(kept(caret_->first), caret_->second);
  }
  return place;
}

bool LogView::Selected(uint64_t line) const {
  return picked_ && line >= std::min(anchor_, cursor_) && line <= std::max(anchor_, cursor_);
}

void LogView::Pick(uint64_t line, bool extend) {
  if (!extend || !picked_) anchor_ = line;
  cursor_ = line;
  picked_ = true;
  spanned_ = anchor_ != cursor_;
  viewport()->update();
}

void LogView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  setFocus(Qt::MouseFocusReason);
  const QPoint at = event->position().toPoint();
  if (const auto line = LineAt(at.y())) {
    Pick(*line, event->modifiers() & Qt::ShiftModifier);
    caret_ = CharAt(at);
  } else {
    ClearSelection();
  }
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || !picked_) return;
  if (const auto line = LineAt(event->position().toPoint().y())) Pick(*line, true);
}

void LogView::SelectAll() {
  if (lines_.Count() == 0) return;
  anchor_ = lines_.Dropped();
  cursor_ = lines_.Appended() - 1;
  picked_ = true;
  spanned_ = true;
  viewport()->update();
}

void LogView::ClearSelection() {
  picked_ = spanned_ = false;
  caret_.reset();
  viewport()->update();
}

QString LogView::SelectedText() const {
  QString text;
  if (!picked_) return text;
  const uint64_t from = std::max(std::min(anchor_, cursor_), lines_.Dropped());
  const uint64_t to = std::min(std::max(anchor_, cursor_) + 1, lines_.Appended());
  for (uint64_t line = from; line < to; ++line) {
    const std::string_view bytes = Bytes(line);
    if (line > from) text.append(QLatin1Char('\n'));
    text.append(QLatin1StringView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  }
  return text;
}

void LogView::CopySelection() const {
  if (picked_) QGuiApplication::clipboard()->setText(SelectedText());
}

void LogView::keyPressEvent(QKeyEvent* event) {
  QScrollBar* bar = verticalScrollBar();
  if (event->matches(QKeySequence::Copy)) {
    CopySelection();
  } else if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
  } else if (event->matches(QKeySequence::MoveToStartOfDocument)) {
    bar->setValue(bar->minimum());
  } else if (event->matches(QKeySequence::MoveToEndOfDocument)) {
    bar->setValue(bar->maximum());
  } else if (Edits(*event)) {
    emit Editing(event);
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

// A cut needs a pick; Tab and Escape are for the window.
bool LogView::Edits(const QKeyEvent& key) const {
  if (key.matches(QKeySequence::Cut)) return picked_;
  if (key.matches(QKeySequence::Paste)) return true;
  switch (key.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return true;
    default:
      break;
  }
  const QString text = key.text();
  if (text.isEmpty() || (key.modifiers() & (Qt::ControlModifier | Qt::MetaModifier))) return false;
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint(); });
}

void LogView::inputMethodEvent(QInputMethodEvent* event) {
  if (event->commitString().isEmpty() && event->preeditString().isEmpty()) {
    return QAbstractScrollArea::inputMethodEvent(event);
  }
  emit Editing(event);
}

}  // namespace console
