#pragma once
// The text page: the operator's free text on a black page, in the centred or the flowing
// layout, written as g.bmp at 4 bits per pixel with the 16-colour table. Glyphs are drawn in
// the table colour nearest to the font colour and without antialiasing, so the page holds
// table colours only.
//
// Flowing layout: the text flows character by character from (2, L); a CR LF pair moves to the
// next line (x = 2, y += T + L) and draws nothing; a byte of 0x80 or above starts a two-byte
// character; before each character that would pass W - 2 the text wraps first. T is the
// height of "h", L the line spacing (also the top margin).
// Centred layout: N display lines share the height, band = H div N; line i is drawn at
// ((W - width) div 2, (band - T) div 2 + i * band).

#include <QFont>
#include <QImage>
#include <filesystem>
#include <string>
#include <vector>

#include "render/bmp.h"
#include "render/drawing.h"
#include "settings/font_slot.h"

namespace aqled {

// Items of the layout box `bm`.
inline constexpr int kCentredLayout = 0;  // 居中版面
inline constexpr int kFlowingLayout = 1;  // 原始版面

// What the text page is drawn from; the window reads it from its controls.
struct TextPageInput {
  int W = 0;                       // page width in pixels (dtw)
  int H = 0;                       // page height in pixels (dth)
  std::string text;                // GBK, the whole text of Memo2 with CR LF line breaks
  int layout = kCentredLayout;     // item index of bm; any other value (-1: none) draws no text
  int L = 0;                       // line spacing in pixels (hjj), any integer
  FontSlot font;                   // the slot "time"
  std::vector<std::string> lines;  // GBK, the display lines of Memo2 as the box shows them
                                   // (hard breaks and the box's own wrap points); centred layout
};

// The display lines of a text as a word-wrapping text box of `width` pixels in `boxFont`
// shows them: every CR LF, lone CR or lone LF starts a new line, and a line too long for the
// width is split where the box's word wrap splits it (at word boundaries, or anywhere within a
// word longer than the width). A break at the very end adds no empty line; an empty text has
// no lines. The pieces of a hard line join up to it again.
std::vector<std::string> TextBoxLines(const std::string& gbk, int width, const QFont& boxFont);

// The page as texts: the flowing layout walks `text`, the centred one takes `lines`; no text
// for any other layout or for the centred layout without lines.
PageDrawing LayoutTextPage(const TextPageInput& input);

// The page painted: Format_RGB32, W x H, table colours only; null when W or H is 0 or less.
QImage DrawTextPage(const TextPageInput& input);

// The outcome of RenderTextPage.
struct TextPageResult {
  QImage page;        // as DrawTextPage; null when W or H is 0 or the file was not written
  std::string error;  // GBK, for the window's error report; empty when g.bmp was written
  bool ok() const { return error.empty(); }
};

// Draws the page and writes it as `fileName` into `pictureFolder`, replacing the earlier file;
// with W or H 0 the file is written with no content (0 bytes), like the station pages. When
// the file cannot be written the earlier file stays as it was.
TextPageResult RenderTextPage(const TextPageInput& input, const std::filesystem::path& pictureFolder,
                              const char* fileName = "g.bmp");

}  // namespace aqled
