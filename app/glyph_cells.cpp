#include "app/glyph_cells.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace console {
namespace {

constexpr char16_t kControlPictures = 0x2400;
constexpr int kBytes = 256;

}  // namespace

QChar ShownChar(unsigned char byte) {
  return byte == '\r' || byte == '\n' ? QChar(kControlPictures + byte) : QChar(byte);
}

void GlyphCells::Make(const QFont& font, qreal ratio) {
  font_ = font;
  ratio_ = ratio;
  const QFontMetricsF metrics(font);
  deviceWidth_ = std::max(1, static_cast<int>(std::lround(metrics.horizontalAdvance('0') * ratio)));
  deviceHeight_ = std::max(1, static_cast<int>(std::lround(metrics.lineSpacing() * ratio)));
  width_ = std::max(1, static_cast<int>(std::lround(deviceWidth_ / ratio)));
  height_ = std::max(1, static_cast<int>(std::lround(deviceHeight_ / ratio)));
  ascent_ = static_cast<int>(std::lround(metrics.ascent()));
  plain_ = Drawn(QColor(kLogText), QColor(kLogBackground));
  picked_ = Drawn(QColor(kLogBackground), QColor(kLogText));
}

// A glyph wider than its cell (one from another face) is cut at the cell's edge.
QImage GlyphCells::Drawn(const QColor& text, const QColor& background) const {
  QImage cells(kBytes * deviceWidth_, deviceHeight_, QImage::Format_RGB32);
  cells.fill(background);
  QPainter painter(&cells);
  painter.scale(ratio_, ratio_);
  painter.setFont(font_);
  painter.setPen(text);
  const qreal width = deviceWidth_ / ratio_;
  for (int b = 0; b < kBytes; ++b) {
    painter.setClipRect(QRectF(b * width, 0, width, height_));
    painter.drawText(QPointF(b * width, ascent_),
                     QString(ShownChar(static_cast<unsigned char>(b))));
  }
  return cells;
}

void GlyphCells::DrawRow(QImage& canvas, int x, int y, std::string_view bytes, bool picked) const {
  const QImage& cells = picked ? picked_ : plain_;
  const int left = static_cast<int>(std::lround(x * ratio_));
  const int top = static_cast<int>(std::lround(y * ratio_));
  const size_t fit = static_cast<size_t>(std::max(0, (canvas.width() - left) / deviceWidth_));
  const size_t count = std::min(bytes.size(), fit);
  const size_t cellBytes = static_cast<size_t>(deviceWidth_) * 4;
  uchar* const pixels = canvas.bits();
  const qsizetype stride = canvas.bytesPerLine();
  for (int line = std::max(0, -top); line < deviceHeight_ && top + line < canvas.height(); ++line) {
    const uchar* source = cells.constScanLine(line);
    uchar* target = pixels + (top + line) * stride + static_cast<size_t>(left) * 4;
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(target + i * cellBytes, source + static_cast<unsigned char>(bytes[i]) * cellBytes,
                  cellBytes);
    }
  }
}

}  // namespace console
