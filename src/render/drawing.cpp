#include "render/drawing.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <algorithm>

#include "text/gbk.h"

namespace aqled {

int FontPixels(int points) {
  const long long scaled = static_cast<long long>(points) * kPageDpi;
  const long long pixels = scaled >= 0 ? (scaled + 36) / 72 : (scaled - 36) / 72;
  return static_cast<int>(std::clamp<long long>(pixels, 1, 10000));
}

QFont ApplyFontSlot(const FontSlot& slot) { return ApplyFontSlot(slot, slot.size); }

QFont ApplyFontSlot(const FontSlot& slot, int points) {
  // The stored faces are Windows names ("宋体", "新宋体") that Debian does not have; a face
  // that is not installed falls back to the Song-style CJK face the system installs, rather
  // than to whatever sans face the font matcher would pick.
  QFont font;
  font.setFamilies({ToQString(slot.name), QString::fromLatin1(kFallbackFace)});
  font.setPixelSize(FontPixels(points));
  font.setBold(slot.style == 1);
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  font.setKerning(false);
  font.setStyleStrategy(QFont::NoAntialias);
  return font;
}

QColor ColorOfWord(int word) {
  const unsigned w = static_cast<unsigned>(word);
  return QColor(w & 0xFF, (w >> 8) & 0xFF, (w >> 16) & 0xFF);
}

int TextWidth(const QFont& font, std::string_view gbk) {
  if (gbk.empty()) return 0;
  return QFontMetrics(font).horizontalAdvance(ToQString(gbk));
}

int TextHeight(const QFont& font) {
  // The height Qt gives any one-line text, "h" included, is the font's line height (ascent
  // plus descent); asking for it directly spares laying out the text.
  return QFontMetrics(font).height();
}

std::string CannotDrawText(int width, int height) {
  // (cannot draw the picture)
  return Gbk<"无法绘制图片 ">() + std::to_string(width) + "x" + std::to_string(height);
}

long long Div(long long a, long long b) { return b == 0 ? 0 : a / b; }

int ClampCoordinate(long long value) {
  return static_cast<int>(std::clamp<long long>(value, -1000000, 1000000));
}

namespace {

void PrepareAliased(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
}

void PaintTextWith(QPainter& painter, const TextItem& item) {
  if (item.text.empty()) return;
  const QString text = ToQString(item.text);
  const QFontMetrics metrics(item.font);
  const int width = metrics.horizontalAdvance(text);
  const int height = metrics.height();
  painter.fillRect(QRect(item.x, item.y, width, height), Qt::black);
  painter.setFont(item.font);
  painter.setPen(item.color);
  painter.drawText(QPoint(item.x, item.y + metrics.ascent()), text);
}

void PaintLineWith(QPainter& painter, const LineItem& line) {
  if (line.penWidth <= 0) return;
  const int p = line.penWidth;
  const int back = p / 2;
  if (line.from.y() == line.to.y()) {
    const int x0 = std::min(line.from.x(), line.to.x());
    const int x1 = std::max(line.from.x(), line.to.x());
    painter.fillRect(QRect(x0, line.from.y() - back, x1 - x0 + 1, p), line.color);
  } else if (line.from.x() == line.to.x()) {
    const int y0 = std::min(line.from.y(), line.to.y());
    const int y1 = std::max(line.from.y(), line.to.y());
    painter.fillRect(QRect(line.from.x() - back, y0, p, y1 - y0 + 1), line.color);
  } else {
    // No page draws a slanted line; it is drawn with a square pen for completeness.
    painter.setPen(QPen(line.color, p, Qt::SolidLine, Qt::SquareCap));
    painter.drawLine(line.from, line.to);
  }
}

}  // namespace

void PaintText(QImage& image, const TextItem& item) {
  if (image.isNull()) return;
  QPainter painter(&image);
  PrepareAliased(painter);
  PaintTextWith(painter, item);
}

void PaintLine(QImage& image, const LineItem& line) {
  if (image.isNull()) return;
  QPainter painter(&image);
  PrepareAliased(painter);
  PaintLineWith(painter, line);
}

QImage PaintDrawing(const PageDrawing& drawing) {
  if (drawing.width <= 0 || drawing.height <= 0) return {};
  QImage image(drawing.width, drawing.height, QImage::Format_RGB32);
  if (image.isNull()) return {};
  image.fill(Qt::black);
  QPainter painter(&image);
  PrepareAliased(painter);
  for (const TextItem& t : drawing.texts) PaintTextWith(painter, t);
  for (const LineItem& l : drawing.lines) PaintLineWith(painter, l);
  painter.end();
  return image;
}

}  // namespace aqled
