#pragma once
// The four station previews of the window: each a black 709 x 414 picture with the station
// page at its top left corner and, over it, the subtitle strip and the clock strip where the
// operator placed them, so that the preview resembles what the screen shows. The strips are
// drawn on the previews only, never into a picture file.

#include <QDateTime>
#include <QImage>
#include <array>
#include <string>

#include "settings/font_slot.h"
#include "text/datetime.h"

namespace aqled {

inline constexpr int kPreviewWidth = 709;
inline constexpr int kPreviewHeight = 414;

// The subtitle strip: zmw x zmh at (zmx, zmy), the trimmed text of `fly` on one line in bz.
struct SubtitleStrip {
  bool zmcheck = false;
  int zmx = 0;
  int zmy = 0;
  int zmw = 0;
  int zmh = 0;
  std::string fly;  // GBK, the whole text of the box
  FontSlot bz;
};

// The clock strip: tw x th at (tx, ty), the clock text centred in the clock font.
struct ClockStrip {
  bool year_ = false;
  bool week_ = false;
  bool time_ = false;
  int tx = 0;
  int ty = 0;
  int tw = 0;
  int th = 0;
  FontSlot font;
};

// The clock text, GBK: the date "yyyy-mm-dd" if year_, then the time "hh:nn:ss" if time_, then
// the weekday "dddd" if week_, each followed by one blank, in this order whatever the order of
// the boxes in the window. Empty when no box is ticked.
std::string ClockText(const ClockStrip& clock, const QDateTime& now);

// A black preview with the page copied at (0, 0); what lies beyond the preview is cut off. A
// null page gives a black preview.
QImage PagePreview(const QImage& page);

// The subtitle strip as an image: zmw x zmh, black, the trimmed text at (0, (zmh - h) div 2).
// A null image when zmcheck is clear or zmw or zmh is 0 or less.
QImage SubtitleStripImage(const SubtitleStrip& strip);
// The clock strip as an image: tw x th, black, the clock text at ((tw - width) div 2,
// (th - h) div 2), its trailing blank counted in its width. A null image when no box is
// ticked or tw or th is 0 or less.
QImage ClockStripImage(const ClockStrip& clock, const QDateTime& now);

// Copies the strips onto the preview, the subtitle first, each with its top left corner at its
// place; null strips draw nothing.
void DrawStrips(QImage& preview, const QImage& subtitle, const QImage& clock, int zmx, int zmy, int tx,
                int ty);

// The four previews after a complete station render: each page on black, then both strips,
// the clock showing `now`.
std::array<QImage, 4> RenderPreviews(const std::array<QImage, 4>& pages, const SubtitleStrip& subtitle,
                                     const ClockStrip& clock, const QDateTime& now);
// The same with the time read from the clock.
std::array<QImage, 4> RenderPreviews(const std::array<QImage, 4>& pages, const SubtitleStrip& subtitle,
                                     const ClockStrip& clock, const Clock& time);

}  // namespace aqled
