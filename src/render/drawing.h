#pragma once
// The drawing vocabulary shared by the page renderers: fonts from font slots, colour words,
// text measuring, and a page described as plain data (texts and lines) that is painted onto a
// QImage. Laying a page out and painting it are kept apart so that the layout can be checked
// against the font's metrics and the painting against pixels.

#include <QColor>
#include <QFont>
#include <QImage>
#include <string>
#include <string_view>
#include <vector>

#include "settings/font_slot.h"

namespace aqled {

// Pixels per inch at which font points become pixels. The LED pages are pixel pictures, so
// the conversion is fixed rather than taken from the operator's monitor.
inline constexpr int kPageDpi = 96;

// The face drawn when the slot's face is not installed (the stored faces are Windows names),
// and for the characters the slot's face lacks.
inline constexpr char kFallbackFace[] = "AR PL UMing CN";

// Points as a pixel height at kPageDpi, rounded half away from zero (16 points give 21
// pixels, 14 give 19); never below 1 pixel, which is what any size under 1 point draws at.
int FontPixels(int points);

// The drawing font of a slot, at the slot's size or at `points` when given: face from the slot
// (GBK name), else kFallbackFace; pixel size by FontPixels, bold exactly when style is 1, never italic,
// underlined or struck out, no antialiasing (an LED shows whole pixels) and no kerning.
QFont ApplyFontSlot(const FontSlot& slot);
QFont ApplyFontSlot(const FontSlot& slot, int points);

// A colour word (lowest byte red, then green, then blue; the top byte is ignored) as a colour.
QColor ColorOfWord(int word);

// width(s): the advance in pixels of the GBK text in the font; an empty text has width 0.
int TextWidth(const QFont& font, std::string_view gbk);
// h: the height in pixels of the text "h" in the font, the font's full line height; used as
// the height of every drawn text.
int TextHeight(const QFont& font);

// Integer layout arithmetic truncates toward zero (-3 div 2 = -1), as C++ division does; this
// names it where a formula reads "div". A divisor of 0 gives 0.
long long Div(long long a, long long b);

// One text of a page: drawn with the top left corner of its cell at (x, y). The cell is
// width(text) x h of the font; it is painted black first, then the glyphs in `color`.
struct TextItem {
  std::string text;  // GBK
  QFont font;
  QColor color;
  int x = 0;
  int y = 0;
};

// One straight line of a page, from `from` to `to`, both end points included. A pen of width p
// covers, across the line, the p pixels from (coordinate - p div 2): a 2-pixel line at y = 3
// covers rows 2 and 3, a 3-pixel line at x = 110 covers columns 109 to 111.
struct LineItem {
  int penWidth = 1;
  QPoint from;
  QPoint to;
  QColor color;
};

// A page as drawn: a black page of width x height pixels, then the texts in order, then the
// lines in order (so lines lie over the texts they cross).
struct PageDrawing {
  int width = 0;
  int height = 0;
  std::vector<TextItem> texts;
  std::vector<LineItem> lines;
};

// Paints one text onto the image: its opaque black cell, then its glyphs; whatever lies
// outside the image is cut off.
void PaintText(QImage& image, const TextItem& text);

// Paints one line onto the image by the pen rule of LineItem; parts outside are cut off.
void PaintLine(QImage& image, const LineItem& line);

// The drawing as a Format_RGB32 image of its size; a null image when width or height is not
// positive (or the image cannot be allocated).
QImage PaintDrawing(const PageDrawing& drawing);

// The error text (GBK) for a page of width x height that could not be allocated, for the
// window's error report.
std::string CannotDrawText(int width, int height);

// Clamps a layout coordinate computed in 64 bits into a range QImage painting handles; any
// value this moves lies far outside every page.
int ClampCoordinate(long long value);

}  // namespace aqled
