#include "render/station_pages.h"

#include <string>

#include "text/gbk.h"

namespace aqled {

namespace {

const std::string& Unit() { return Gbk<"μg/m">(); }
const std::string& Ozone() { return Gbk<"臭氧">(); }
const char kPm25[] = "PM2.5";

}  // namespace

int SuperscriptPoints(int unitPoints) {
  const long long reduced = static_cast<long long>(unitPoints) - 14;
  if (reduced >= 1) return static_cast<int>(reduced);
  return unitPoints / 2 >= 1 ? unitPoints / 2 : 1;
}

PageDrawing LayoutStationPage(const StationPageInput& in, int n) {
  PageDrawing page;
  page.width = in.W;
  page.height = in.H;
  const bool known = n >= 1 && n <= 4;
  const std::string title = known ? in.titles[n - 1] : std::string();
  const Dtstr reading = known ? in.readings[n] : Dtstr{};
  const long long B = Div(in.H, 3);
  const long long c1 = in.c1;
  const long long c2 = in.c2;

  auto add = [&page](const std::string& text, const QFont& font, const FontSlot& slot, long long x,
                     long long y) {
    page.texts.push_back({text, font, ColorOfWord(slot.color), ClampCoordinate(x), ClampCoordinate(y)});
  };

  // Title row: the station title and the big title centred together.
  const QFont zd = ApplyFontSlot(in.zd);
  const QFont bt = ApplyFontSlot(in.bt);
  const long long titleWidth = TextWidth(zd, title);
  const long long x0 = Div(in.W - (titleWidth + TextWidth(bt, in.bigTitle)), 2);
  add(title, zd, in.zd, x0, Div(B - TextHeight(zd), 2));
  add(in.bigTitle, bt, in.bt, x0 + titleWidth, Div(B - TextHeight(bt), 2));

  // Row labels centred in the first column.
  const QFont dw = ApplyFontSlot(in.dw);
  const long long dwTop = Div(B - TextHeight(dw), 2);
  add(kPm25, dw, in.dw, Div(c1 - TextWidth(dw, kPm25), 2), B + dwTop);
  add(Ozone(), dw, in.dw, Div(c1 - TextWidth(dw, Ozone()), 2), 2 * B + dwTop);

  // The unit at the right of the second column, the raised "3" right after it.
  const QFont bz2 = ApplyFontSlot(in.bz2);
  const long long unitWidth = TextWidth(bz2, Unit());
  const long long u = unitWidth + 30;
  const long long ux = c1 + c2 - u - 2;
  const long long unitTop = Div(B - TextHeight(bz2), 2);
  add(Unit(), bz2, in.bz2, ux, B + unitTop);
  add(Unit(), bz2, in.bz2, ux, 2 * B + unitTop);
  const QFont sup = ApplyFontSlot(in.bz2, SuperscriptPoints(in.bz2.size));
  const long long supTop = Div(B - TextHeight(sup), 2) - 7;
  add("3", sup, in.bz2, ux + unitWidth, B + supTop);
  add("3", sup, in.bz2, ux + unitWidth, 2 * B + supTop);

  // The readings centred in the part of the second column the unit leaves free.
  const QFont dt = ApplyFontSlot(in.dt);
  const long long dtTop = Div(B - TextHeight(dt), 2);
  add(reading.pm25, dt, in.dt, c1 + 2 + Div(c2 - u - TextWidth(dt, reading.pm25), 2), B + dtTop);
  add(reading.ozone, dt, in.dt, c1 + 2 + Div(c2 - u - TextWidth(dt, reading.ozone), 2), 2 * B + dtTop);

  // Lines after the texts, so that they lie over any text they cross.
  const QColor table = ColorOfWord(in.wgcolor);
  auto line = [&page, &table](int pen, long long x1, long long y1, long long x2, long long y2) {
    page.lines.push_back({pen, QPoint(ClampCoordinate(x1), ClampCoordinate(y1)),
                          QPoint(ClampCoordinate(x2), ClampCoordinate(y2)), table});
  };
  const long long W = in.W;
  const long long H = in.H;
  line(2, 2, 3, W - 3, 3);
  line(2, 3, 2, 3, H - 3);
  line(2, W - 3, 3, W - 3, H - 3);
  line(2, 3, H - 3, W - 3, H - 3);
  line(2, 3, B, W - 3, B);
  line(2, 3, 2 * B, W - 3, 2 * B);
  line(3, c1, B, c1, H - 3);
  return page;
}

QImage DrawStationPage(const StationPageInput& input, int n) {
  if (input.W <= 0 || input.H <= 0) return {};
  return PaintDrawing(LayoutStationPage(input, n));
}

StationPagesResult RenderStationPages(const StationPageInput& input,
                                      const std::filesystem::path& pictureFolder) {
  StationPagesResult result;
  const bool empty = input.W <= 0 || input.H <= 0;
  for (int n = 1; n <= 4; ++n) {
    QImage page = empty ? QImage() : DrawStationPage(input, n);
    if (!empty && page.isNull()) {
      result.error = CannotDrawText(input.W, input.H);
      return result;
    }
    const WriteStatus status = WritePicture(pictureFolder / (std::to_string(n) + ".bmp"), EncodeBmp32(page));
    if (!status.ok()) {
      result.error = status.error;
      return result;
    }
    result.pages[n - 1] = page;
    result.written = n;
  }
  return result;
}

}  // namespace aqled
