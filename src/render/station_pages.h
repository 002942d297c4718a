#pragma once
// The four station pages: a title row and a two-row table with the PM2.5 and ozone readings,
// drawn at exact positions, written as 1.bmp to 4.bmp (32 bits per pixel) into the picture
// folder.
//
// Page n (W x H, B = H div 3, every width and h measured in the font of the text at hand):
//   title of station n (zd) at x0 = (W - t) div 2, t = width(title, zd) + width(big title, bt),
//   big title (bt) right after it, both at y = (B - h) div 2;
//   "PM2.5" / "臭氧" (dw) centred in column 1 at x = (c1 - width) div 2, rows 1 and 2;
//   the unit "μg/m" (bz2) at ux = c1 + c2 - u - 2 with u = width("μg/m") + 30, and the "3"
//   raised by 7 pixels right after it in the superscript size;
//   the readings (dt) at c1 + 2 + (c2 - u - width) div 2, centred in what the unit leaves free;
//   each row's texts at y = row * B + (B - h) div 2.
// Then the lines in the table colour: the frame and the two row lines with a 2-pixel pen, the
// column divider at x = c1 (rows 1 and 2 only) with a 3-pixel pen.

#include <QImage>
#include <array>
#include <filesystem>
#include <string>

#include "render/bmp.h"
#include "render/drawing.h"
#include "settings/font_slot.h"
#include "stations/readings.h"

namespace aqled {

// What the station pages are drawn from; the window reads it from its controls and slots.
struct StationPageInput {
  int W = 0;                          // page width in pixels (dtw)
  int H = 0;                          // page height in pixels (dth)
  int c1 = 110;                       // first column width, x of the divider (xx1)
  int c2 = 80;                        // second column width (xx2)
  std::array<std::string, 4> titles;  // GBK, stations 1 to 4 at index 0 to 3
  std::string bigTitle;               // GBK, second part of every title row; may be empty
  StationReadings readings;           // indexed by station number 1 to 4
  FontSlot zd;                        // station title
  FontSlot bt;                        // big title
  FontSlot dw;                        // row labels
  FontSlot dt;                        // readings
  FontSlot bz2;                       // unit
  int wgcolor = 255;                  // colour word of every line
};

// The size in points of the raised "3": the unit size minus 14 points. When that leaves less
// than 1 point (a unit font of 14 points or less), half the unit size is used instead, at least
// 1 point, so that a small unit font still gets a "3" smaller than the unit rather than one of
// some default height.
int SuperscriptPoints(int unitPoints);

// Page n (1 to 4) as texts and lines, in drawing order. An n outside 1 to 4 draws no title and
// no readings (the labels, unit and lines stay).
PageDrawing LayoutStationPage(const StationPageInput& input, int n);

// Page n painted: Format_RGB32, W x H; a null image when W or H is 0 or less.
QImage DrawStationPage(const StationPageInput& input, int n);

// The outcome of RenderStationPages.
struct StationPagesResult {
  std::array<QImage, 4> pages;  // station 1 to 4 at index 0 to 3; null when W or H is 0 and
                                // for the stations not reached after a failed write
  int written = 0;              // how many files were written, counted from station 1
  std::string error;            // GBK, for the window's error report; empty when all four
                                // were written
  bool ok() const { return error.empty(); }
};

// Draws the four pages in station order and writes each as "<n>.bmp" into `pictureFolder`,
// replacing the earlier file; with W or H 0 each file is written with no content (0 bytes).
// The first file that cannot be written ends the call: the earlier files stay written, that
// station's earlier file stays as it was, the later stations are not drawn.
StationPagesResult RenderStationPages(const StationPageInput& input,
                                      const std::filesystem::path& pictureFolder);

}  // namespace aqled
