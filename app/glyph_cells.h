#pragma once

#include <QFont>
#include <QImage>
#include <string_view>

namespace console {

// The log's colours: lime text on black, the other way round where it is picked.
constexpr QRgb kLogText = 0xFF00FF00;
constexpr QRgb kLogBackground = 0xFF000000;

// Every byte a log line can hold, drawn once into a cell of the fixed-pitch face, in the
// log's colours and in those of a picked line. A row of the log is then copied cell by
// cell onto the canvas, which costs a small part of drawing its text: a fast stream
// repaints the log many times a second.
class GlyphCells {
 public:
  // Sized in logical pixels; the cells are drawn at the screen's device pixel ratio.
  void Make(const QFont& font, qreal ratio);
  bool Fits(const QFont& font, qreal ratio) const { return font == font_ && ratio == ratio_; }

  int Width() const { return width_; }    // of a cell, in logical pixels
  int Height() const { return height_; }  // of a row, likewise
  qreal Ratio() const { return ratio_; }

  // Copies the bytes' cells onto the canvas (device pixels), the first one's top left at
  // column and row given in cells and pixels; what falls outside the canvas is left out.
  void DrawRow(QImage& canvas, int x, int y, std::string_view bytes, bool picked) const;

 private:
  QImage Drawn(const QColor& text, const QColor& background) const;

  QFont font_;
  qreal ratio_ = 0;
  int width_ = 1, height_ = 1, ascent_ = 0;
  int deviceWidth_ = 1, deviceHeight_ = 1;
  QImage plain_, picked_;
};

// A byte as the log shows it: one character each, a CR or LF as its control picture, so
// that one line of the log is one line on screen.
QChar ShownChar(unsigned char byte);

}  // namespace console
