#include <gtest/gtest.h>

#include <QDir>
#include <QFontMetrics>

#include "render/previews.h"
#include "render/station_pages.h"
#include "render_test_util.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::ColorsIn;
using testing::G;
using testing::InkBounds;
using testing::PathOf;
using testing::ReadAll;
using testing::Rgb;
using testing::UmingSlot;

// Colour words (low byte red) and the colours they give.
constexpr int kRedWord = 0x0000FF, kGreenWord = 0x00FF00, kBlueWord = 0xFF0000, kYellowWord = 0x00FFFF,
              kCyanWord = 0xFFFF00, kMagentaWord = 0xFF00FF;
constexpr unsigned kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00, kCyan = 0x00FFFF,
                   kMagenta = 0xFF00FF;

StationPageInput Sample() {
  StationPageInput in;
  in.W = 576;
  in.H = 336;
  in.c1 = 110;
  in.c2 = 80;
  in.titles = {G("祯埠镇"), G("石门洞"), G("小舟山"), G("千峡湖")};
  in.bigTitle = G("清新空气");
  for (int n = 1; n <= 4; ++n)
    in.readings[n] = Dtstr{std::to_string(10 * n + 5), std::to_string(80 + n), "", ""};
  in.zd = UmingSlot(20, kRedWord, 1);
  in.bt = UmingSlot(16, kGreenWord);
  in.dw = UmingSlot(14, kBlueWord);
  in.dt = UmingSlot(18, kYellowWord);
  in.bz2 = UmingSlot(16, kCyanWord);
  in.wgcolor = kMagentaWord;
  return in;
}

int Width(const QFont& font, const std::string& gbk) {
  return QFontMetrics(font).horizontalAdvance(ToQString(gbk));
}
int Height(const QFont& font) { return QFontMetrics(font).height(); }

QRect CellOf(const TextItem& t) { return QRect(t.x, t.y, Width(t.font, t.text), Height(t.font)); }

// The page read back from its written file.
QImage WrittenPage(const std::filesystem::path& folder, int n) {
  const BmpReadResult read = DecodeBmp(ReadAll(folder / (std::to_string(n) + ".bmp")));
  EXPECT_TRUE(read.error.empty()) << read.error;
  EXPECT_EQ(read.bitsPerPixel, 32);
  return read.image;
}

struct LayoutCase {
  const char* what;
  int W, H, c1, c2;
  const char* title;  // UTF-8
  const char* big;    // UTF-8
  const char* pm25;
};

class StationLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

// Every text stands where the layout formulas put it, measured in the font's own metrics.
TEST_P(StationLayoutTest, TextsStandWhereTheFormulasPutThem) {
  const LayoutCase& c = GetParam();
  StationPageInput in = Sample();
  in.W = c.W;
  in.H = c.H;
  in.c1 = c.c1;
  in.c2 = c.c2;
  in.titles[1] = G(c.title);
  in.bigTitle = G(c.big);
  in.readings[2].pm25 = c.pm25;
  const PageDrawing page = LayoutStationPage(in, 2);
  ASSERT_EQ(page.texts.size(), 10u);
  const auto& t = page.texts;
  const std::string unit = G("μg/m");

  // The fonts are the slots' (pixel sizes: 20 pt 27, 16 pt 21, 14 pt 19, 18 pt 24, 2 pt 3).
  EXPECT_EQ(t[0].font.pixelSize(), 27);
  EXPECT_TRUE(t[0].font.bold());
  EXPECT_EQ(t[1].font.pixelSize(), 21);
  EXPECT_EQ(t[2].font.pixelSize(), 19);
  EXPECT_EQ(t[4].font.pixelSize(), 21);
  EXPECT_EQ(t[6].font.pixelSize(), 3);
  EXPECT_EQ(t[8].font.pixelSize(), 24);
  const unsigned colours[10] = {kRed, kGreen, kBlue, kBlue, kCyan, kCyan, kCyan, kCyan, kYellow, kYellow};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(t[i].color.rgb() & 0xFFFFFFu, colours[i]) << "text " << i + 1;

  const QFont &zd = t[0].font, &bt = t[1].font, &dw = t[2].font, &bz2 = t[4].font, &sup = t[6].font,
              &dt = t[8].font;
  const int B = c.H / 3;
  const int x0 = (c.W - (Width(zd, G(c.title)) + Width(bt, G(c.big)))) / 2;
  const int u = Width(bz2, unit) + 30;
  const int ux = c.c1 + c.c2 - u - 2;
  struct Expected {
    std::string text;
    int x, y;
  };
  const Expected expected[10] = {
      {G(c.title), x0, (B - Height(zd)) / 2},
      {G(c.big), x0 + Width(zd, G(c.title)), (B - Height(bt)) / 2},
      {"PM2.5", (c.c1 - Width(dw, "PM2.5")) / 2, B + (B - Height(dw)) / 2},
      {G("臭氧"), (c.c1 - Width(dw, G("臭氧"))) / 2, 2 * B + (B - Height(dw)) / 2},
      {unit, ux, B + (B - Height(bz2)) / 2},
      {unit, ux, 2 * B + (B - Height(bz2)) / 2},
      {"3", ux + u - 30, B + (B - Height(sup)) / 2 - 7},
      {"3", ux + u - 30, 2 * B + (B - Height(sup)) / 2 - 7},
      {c.pm25, c.c1 + 2 + (c.c2 - u - Width(dt, c.pm25)) / 2, B + (B - Height(dt)) / 2},
      {in.readings[2].ozone, c.c1 + 2 + (c.c2 - u - Width(dt, in.readings[2].ozone)) / 2,
       2 * B + (B - Height(dt)) / 2},
  };
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(testing::U(t[i].text), testing::U(expected[i].text)) << c.what << " text " << i + 1;
    EXPECT_EQ(t[i].x, expected[i].x) << c.what << " text " << i + 1;
    EXPECT_EQ(t[i].y, expected[i].y) << c.what << " text " << i + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Pages, StationLayoutTest,
    ::testing::Values(
        LayoutCase{"full page", 576, 336, 110, 80, "石门洞", "清新空气", "35"},
        LayoutCase{"empty big title", 576, 336, 110, 80, "石门洞", "", "35"},
        LayoutCase{"title wider than the page", 200, 100, 60, 120, "石门洞石门洞石门洞", "清新空气", "7"},
        LayoutCase{"odd height", 300, 100, 90, 100, "石门洞", "清新空气", "-"},
        LayoutCase{"value wider than its place", 576, 336, 110, 80, "石门洞", "x", "1234567890"},
        LayoutCase{"negative columns", 576, 336, -20, -30, "A", "B", "12"}));

// The lines of a 576 x 336 page with columns 110 and 80: B = 112; horizontal lines at y = 3,
// 112, 224 and 333 and vertical ones at x = 3, 573 (pen 2) and 110 (pen 3, rows 1 and 2 only).
TEST(StationPageFile, LineGridOfTheFullPage) {
  QTemporaryDir dir;
  const StationPagesResult result = RenderStationPages(Sample(), PathOf(dir));
  ASSERT_TRUE(result.ok()) << testing::U(result.error);
  const QImage page = WrittenPage(PathOf(dir), 1);
  ASSERT_EQ(page.size(), QSize(576, 336));
  for (int y : {3, 112, 224, 333})
    for (int row : {y - 1, y})
      for (int x = 3; x <= 573; ++x) ASSERT_EQ(Rgb(page, x, row), kMagenta) << "row " << row << " x " << x;
  for (int x : {3, 573})
    for (int col : {x - 1, x})
      for (int y = 3; y <= 333; ++y) ASSERT_EQ(Rgb(page, col, y), kMagenta) << "column " << col << " y " << y;
  for (int col : {109, 110, 111})
    for (int y = 112; y <= 333; ++y)
      ASSERT_EQ(Rgb(page, col, y), kMagenta) << "divider " << col << " y " << y;
  // Beside the pens, where no text stands, the page is black.
  for (int row : {0, 1, 4, 110, 113, 222, 225, 331, 334, 335})
    EXPECT_EQ(Rgb(page, 400, row), 0u) << "row " << row;
  for (int col : {0, 1, 4, 574, 575}) EXPECT_EQ(Rgb(page, col, 300), 0u) << "column " << col;
  for (int col : {108, 112}) EXPECT_EQ(Rgb(page, col, 140), 0u) << "column " << col;
  EXPECT_EQ(Rgb(page, 110, 60), 0u) << "the divider stays out of the title row";
}

// H = 100: B = 33, rows at 0, 33, 66; the frame's bottom at 97; row 99 belongs to no row.
TEST(StationPageFile, LineGridOfAHundredPixelPage) {
  QTemporaryDir dir;
  StationPageInput in = Sample();
  in.H = 100;
  in.zd.size = in.bt.size = in.dw.size = in.dt.size = in.bz2.size = 12;
  ASSERT_TRUE(RenderStationPages(in, PathOf(dir)).ok());
  const QImage page = WrittenPage(PathOf(dir), 4);
  ASSERT_EQ(page.size(), QSize(576, 100));
  for (int row : {2, 3, 32, 33, 65, 66, 96, 97}) EXPECT_EQ(Rgb(page, 300, row), kMagenta) << "row " << row;
  for (int row : {1, 4, 31, 34, 64, 67, 95}) EXPECT_EQ(Rgb(page, 300, row), 0u) << "row " << row;
  EXPECT_EQ(ColorsIn(page, QRect(0, 98, 576, 2)), std::set<unsigned>{0u}) << "rows 98 and 99 stay black";
  for (int y = 33; y <= 97; ++y) ASSERT_EQ(Rgb(page, 110, y), kMagenta) << y;
  // The label of row 2 stands in the band from 66 on.
  const QFont dw = ApplyFontSlot(in.dw);
  const int top = 66 + (33 - Height(dw)) / 2;
  const QRect labels = InkBounds(page, kBlue, QRect(0, 66, 100, 34));
  ASSERT_FALSE(labels.isNull());
  EXPECT_GE(labels.top(), top);
  EXPECT_LT(labels.bottom(), top + Height(dw));
}

// Every colour's ink lies inside the cells of the texts drawn in it.
TEST(StationPageFile, InkStaysInsideTheTextCells) {
  QTemporaryDir dir;
  const StationPageInput in = Sample();
  ASSERT_TRUE(RenderStationPages(in, PathOf(dir)).ok());
  const QImage page = WrittenPage(PathOf(dir), 3);
  const PageDrawing layout = LayoutStationPage(in, 3);
  for (unsigned colour : {kRed, kGreen, kBlue, kYellow, kCyan}) {
    QRect cells;
    for (const TextItem& t : layout.texts)
      if ((t.color.rgb() & 0xFFFFFFu) == colour) cells |= CellOf(t);
    const QRect ink = InkBounds(page, colour, page.rect());
    ASSERT_FALSE(ink.isNull()) << std::hex << colour;
    EXPECT_TRUE(cells.contains(ink)) << std::hex << colour;
  }
}

// A value too wide for its place runs over the unit, and its black cell hides the unit there.
TEST(StationPageFile, WideValueCoversTheUnit) {
  StationPageInput in = Sample();
  in.readings[1].pm25 = "123456789012";
  const QImage page = DrawStationPage(in, 1);
  const PageDrawing layout = LayoutStationPage(in, 1);
  const QRect value = CellOf(layout.texts[8]);
  const QRect unit = CellOf(layout.texts[4]);
  ASSERT_TRUE(value.intersects(unit));
  EXPECT_EQ(ColorsIn(page, value).count(kCyan), 0u);
  // Without the value the same place shows the unit's glyphs.
  in.readings[1].pm25 = "";
  EXPECT_EQ(ColorsIn(DrawStationPage(in, 1), value.intersected(unit)).count(kCyan), 1u);
  EXPECT_EQ(ColorsIn(page, CellOf(layout.texts[5])).count(kCyan), 1u) << "the unit of the ozone row stays";
}

// An empty reading draws nothing and leaves its place black; a dash is drawn as a dash.
TEST(StationPageFile, ReadingsAreDrawnAsTheTextsTheyAre) {
  StationPageInput in = Sample();
  in.readings[2] = Dtstr{"", "-", "", ""};
  const QImage page = DrawStationPage(in, 2);
  const PageDrawing layout = LayoutStationPage(in, 2);
  EXPECT_EQ(InkBounds(page, kYellow, QRect(0, 112, 576, 112)), QRect());
  EXPECT_FALSE(InkBounds(page, kYellow, CellOf(layout.texts[9])).isNull());
}

TEST(StationPageFile, TitleWiderThanThePageIsCutAtBothEdges) {
  StationPageInput in = Sample();
  in.titles[0] = G("祯埠镇祯埠镇祯埠镇祯埠镇祯埠镇祯埠镇祯埠镇祯埠镇");
  in.bigTitle = G("清新空气");
  const PageDrawing layout = LayoutStationPage(in, 1);
  EXPECT_LT(layout.texts[0].x, 0);
  const QImage page = DrawStationPage(in, 1);
  EXPECT_FALSE(InkBounds(page, kRed, QRect(0, 0, 15, 112)).isNull()) << "left edge";
  EXPECT_FALSE(InkBounds(page, kGreen, QRect(561, 0, 15, 112)).isNull()) << "right edge";
}

struct SuperscriptCase {
  int unit;
  int superscript;
};

class SuperscriptTest : public ::testing::TestWithParam<SuperscriptCase> {};

// The unit size minus 14 points while that leaves a point or more; below, half the unit size,
// at least 1 point.
TEST_P(SuperscriptTest, SizeOfTheRaisedThree) {
  EXPECT_EQ(SuperscriptPoints(GetParam().unit), GetParam().superscript) << GetParam().unit;
  StationPageInput in = Sample();
  in.bz2.size = GetParam().unit;
  const PageDrawing page = LayoutStationPage(in, 1);
  EXPECT_EQ(page.texts[6].font.pixelSize(), ApplyFontSlot(in.bz2, GetParam().superscript).pixelSize());
}

INSTANTIATE_TEST_SUITE_P(Sizes, SuperscriptTest,
                         ::testing::Values(SuperscriptCase{16, 2}, SuperscriptCase{30, 16},
                                           SuperscriptCase{15, 1}, SuperscriptCase{14, 7},
                                           SuperscriptCase{9, 4}, SuperscriptCase{1, 1},
                                           SuperscriptCase{0, 1}, SuperscriptCase{-8, 1}));

// The settings of a first start: four 0-byte files, no page images, black previews.
TEST(RenderStationPages, EmptyDisplayAreaWritesFourEmptyFiles) {
  QTemporaryDir dir;
  StationPageInput in = Sample();
  in.W = 0;
  in.H = 0;
  const StationPagesResult result = RenderStationPages(in, PathOf(dir));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.written, 4);
  for (int n = 1; n <= 4; ++n) {
    const auto path = PathOf(dir) / (std::to_string(n) + ".bmp");
    ASSERT_TRUE(std::filesystem::exists(path)) << n;
    EXPECT_EQ(std::filesystem::file_size(path), 0u) << n;
    EXPECT_TRUE(result.pages[n - 1].isNull());
  }
  const auto previews =
      RenderPreviews(result.pages, SubtitleStrip{}, ClockStrip{}, testing::FakeClock().Now());
  for (const QImage& p : previews) {
    EXPECT_EQ(p.size(), QSize(709, 414));
    EXPECT_EQ(ColorsIn(p, p.rect()), std::set<unsigned>{0u});
  }
  // Only one of the two sizes 0 is enough.
  in.W = 576;
  ASSERT_TRUE(RenderStationPages(in, PathOf(dir)).ok());
  EXPECT_EQ(std::filesystem::file_size(PathOf(dir) / "2.bmp"), 0u);
}

// Each page goes to its own file; the files hold exactly the returned pages.
TEST(RenderStationPages, WritesEachStationsPage) {
  QTemporaryDir dir;
  const StationPagesResult result = RenderStationPages(Sample(), PathOf(dir));
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.written, 4);
  for (int n = 1; n <= 4; ++n) {
    EXPECT_EQ(std::filesystem::file_size(PathOf(dir) / (std::to_string(n) + ".bmp")), 54u + 576u * 336u * 4u);
    EXPECT_EQ(WrittenPage(PathOf(dir), n), result.pages[n - 1].convertToFormat(QImage::Format_RGB32)) << n;
  }
  EXPECT_NE(result.pages[0], result.pages[1]) << "each page has its own title and readings";
}

// A file that cannot be written ends the run there: earlier files stay, later ones are not
// drawn, and the error can be shown.
TEST(RenderStationPages, UnwritableFileStopsAtThatStation) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir("3.bmp"));  // a folder where the third page would go
  const StationPagesResult result = RenderStationPages(Sample(), PathOf(dir));
  EXPECT_FALSE(result.ok());
  EXPECT_NE(result.error.find("3.bmp"), std::string::npos) << testing::U(result.error);
  EXPECT_EQ(result.written, 2);
  EXPECT_FALSE(result.pages[0].isNull());
  EXPECT_FALSE(result.pages[1].isNull());
  EXPECT_TRUE(result.pages[2].isNull());
  EXPECT_TRUE(result.pages[3].isNull());
  EXPECT_EQ(WrittenPage(PathOf(dir), 2), result.pages[1]);
  EXPECT_FALSE(std::filesystem::exists(PathOf(dir) / "4.bmp"));
}

}  // namespace
}  // namespace aqled
