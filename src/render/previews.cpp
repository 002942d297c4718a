#include "render/previews.h"

#include <QPainter>

#include "render/drawing.h"
#include "text/strings.h"

namespace aqled {

namespace {

// A black strip of w x h with one text on it; null when the strip has no area.
QImage StripWithText(int w, int h, const FontSlot& slot, const std::string& text, bool centred) {
  if (w <= 0 || h <= 0) return {};
  QImage strip(w, h, QImage::Format_RGB32);
  if (strip.isNull()) return {};
  strip.fill(Qt::black);
  const QFont font = ApplyFontSlot(slot);
  const long long x = centred ? Div(static_cast<long long>(w) - TextWidth(font, text), 2) : 0;
  const long long y = Div(static_cast<long long>(h) - TextHeight(font), 2);
  PaintText(strip, {text, font, ColorOfWord(slot.color), ClampCoordinate(x), ClampCoordinate(y)});
  return strip;
}

}  // namespace

std::string ClockText(const ClockStrip& clock, const QDateTime& now) {
  std::string text;
  if (clock.year_) text += FormatDateTime("yyyy-mm-dd", now) + " ";
  if (clock.time_) text += FormatDateTime("hh:nn:ss", now) + " ";
  if (clock.week_) text += FormatDateTime("dddd", now) + " ";
  return text;
}

QImage PagePreview(const QImage& page) {
  QImage preview(kPreviewWidth, kPreviewHeight, QImage::Format_RGB32);
  preview.fill(Qt::black);
  if (!page.isNull()) {
    QPainter painter(&preview);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), page);
  }
  return preview;
}

QImage SubtitleStripImage(const SubtitleStrip& strip) {
  if (!strip.zmcheck) return {};
  return StripWithText(strip.zmw, strip.zmh, strip.bz, Trim(strip.fly), false);
}

QImage ClockStripImage(const ClockStrip& clock, const QDateTime& now) {
  if (!clock.year_ && !clock.week_ && !clock.time_) return {};
  return StripWithText(clock.tw, clock.th, clock.font, ClockText(clock, now), true);
}

void DrawStrips(QImage& preview, const QImage& subtitle, const QImage& clock, int zmx, int zmy, int tx,
                int ty) {
  if (preview.isNull()) return;
  QPainter painter(&preview);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  if (!subtitle.isNull()) painter.drawImage(QPoint(zmx, zmy), subtitle);
  if (!clock.isNull()) painter.drawImage(QPoint(tx, ty), clock);
}

std::array<QImage, 4> RenderPreviews(const std::array<QImage, 4>& pages, const SubtitleStrip& subtitle,
                                     const ClockStrip& clock, const QDateTime& now) {
  const QImage subtitleStrip = SubtitleStripImage(subtitle);
  const QImage clockStrip = ClockStripImage(clock, now);
  std::array<QImage, 4> previews;
  for (int i = 0; i < 4; ++i) {
    previews[i] = PagePreview(pages[i]);
    DrawStrips(previews[i], subtitleStrip, clockStrip, subtitle.zmx, subtitle.zmy, clock.tx, clock.ty);
  }
  return previews;
}

std::array<QImage, 4> RenderPreviews(const std::array<QImage, 4>& pages, const SubtitleStrip& subtitle,
                                     const ClockStrip& clock, const Clock& time) {
  return RenderPreviews(pages, subtitle, clock, time.Now());
}

}  // namespace aqled
