#include <gtest/gtest.h>

#include <QFontMetrics>

#include "render/drawing.h"
#include "render/previews.h"
#include "render/station_pages.h"
#include "render_test_util.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::ColorsIn;
using testing::FakeClock;
using testing::G;
using testing::InkBounds;
using testing::PathOf;
using testing::ReadAll;
using testing::Rgb;
using testing::U;
using testing::UmingSlot;

struct ClockCase {
  bool year, week, time;
  const char* text;  // UTF-8
};

class ClockTextTest : public ::testing::TestWithParam<ClockCase> {};

// Date, time, weekday, each followed by a blank, whatever boxes are ticked.
TEST_P(ClockTextTest, DateThenTimeThenWeekday) {
  const ClockCase& c = GetParam();
  ClockStrip clock;
  clock.year_ = c.year;
  clock.week_ = c.week;
  clock.time_ = c.time;
  const FakeClock fake(QDateTime(QDate(2024, 3, 5), QTime(8, 5, 9, 42)));  // a Tuesday
  EXPECT_EQ(U(ClockText(clock, fake.Now())), c.text);
}

INSTANTIATE_TEST_SUITE_P(Boxes, ClockTextTest,
                         ::testing::Values(ClockCase{false, false, false, ""},
                                           ClockCase{true, false, false, "2024-03-05 "},
                                           ClockCase{false, true, false, "星期二 "},
                                           ClockCase{false, false, true, "08:05:09 "},
                                           ClockCase{true, true, false, "2024-03-05 星期二 "},
                                           ClockCase{true, false, true, "2024-03-05 08:05:09 "},
                                           ClockCase{false, true, true, "08:05:09 星期二 "},
                                           ClockCase{true, true, true, "2024-03-05 08:05:09 星期二 "}));

QImage Checkered(int w, int h) {
  QImage page(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) page.setPixel(x, y, (x + y) % 2 ? qRgb(0, 0, 255) : qRgb(255, 255, 255));
  return page;
}

TEST(PagePreview, PageAtTheTopLeftOnBlack) {
  const QImage page = Checkered(300, 200);
  const QImage preview = PagePreview(page);
  ASSERT_EQ(preview.size(), QSize(709, 414));
  EXPECT_EQ(preview.copy(0, 0, 300, 200), page);
  EXPECT_EQ(ColorsIn(preview, QRect(300, 0, 409, 414)), std::set<unsigned>{0u});
  EXPECT_EQ(ColorsIn(preview, QRect(0, 200, 709, 214)), std::set<unsigned>{0u});
  // A page larger than the preview is cut off.
  const QImage large = Checkered(800, 500);
  EXPECT_EQ(PagePreview(large), large.copy(0, 0, 709, 414));
  EXPECT_EQ(ColorsIn(PagePreview(QImage()), QRect(0, 0, 709, 414)), std::set<unsigned>{0u});
}

SubtitleStrip Subtitle(const char* utf8) {
  SubtitleStrip s;
  s.zmcheck = true;
  s.zmx = 40;
  s.zmy = 250;
  s.zmw = 300;
  s.zmh = 40;
  s.fly = G(utf8);
  s.bz = UmingSlot(16, 0x00FF00);
  return s;
}

ClockStrip Clock(bool year, bool week, bool time) {
  ClockStrip c;
  c.year_ = year;
  c.week_ = week;
  c.time_ = time;
  c.tx = 350;
  c.ty = 20;
  c.tw = 330;
  c.th = 30;
  c.font = UmingSlot(12, 0x00FFFF, 1);
  return c;
}

// Each strip covers its place opaquely; the rest of the preview is the page.
TEST(Strips, LieOpaquelyOverThePageWhereTheyArePlaced) {
  const std::array<QImage, 4> pages = {Checkered(576, 336), Checkered(576, 336), Checkered(100, 100),
                                       QImage()};
  const SubtitleStrip subtitle = Subtitle("  \r\n 今日空气清新\r\n");
  const ClockStrip clock = Clock(true, true, true);
  const QDateTime now(QDate(2024, 3, 5), QTime(8, 5, 9));
  const auto previews = RenderPreviews(pages, subtitle, clock, now);
  const QImage sub = SubtitleStripImage(subtitle);
  const QImage clk = ClockStripImage(clock, now);
  ASSERT_EQ(sub.size(), QSize(300, 40));
  ASSERT_EQ(clk.size(), QSize(330, 30));
  for (int i = 0; i < 4; ++i) {
    QImage expected = PagePreview(pages[i]);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 300; ++x) expected.setPixel(40 + x, 250 + y, sub.pixel(x, y));
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 330 && 350 + x < 709; ++x) expected.setPixel(350 + x, 20 + y, clk.pixel(x, y));
    EXPECT_EQ(previews[i], expected) << "preview " << i + 1;
  }
}

// The fly text is trimmed at both ends and drawn on one line, left aligned, centred in height.
TEST(Strips, SubtitleIsTheTrimmedTextLeftAligned) {
  const QImage trimmed = SubtitleStripImage(Subtitle("今日空气清新"));
  EXPECT_EQ(SubtitleStripImage(Subtitle("  \r\n\t今日空气清新 \r\n")), trimmed);
  const QFont font = ApplyFontSlot(UmingSlot(16, 0x00FF00));
  const QFontMetrics fm(font);
  const QRect cell(0, (40 - fm.height()) / 2, fm.horizontalAdvance(QString::fromUtf8("今日空气清新")),
                   fm.height());
  const QRect ink = InkBounds(trimmed, qRgb(0, 255, 0), trimmed.rect());
  ASSERT_FALSE(ink.isNull());
  EXPECT_TRUE(cell.contains(ink));
  EXPECT_LT(ink.left(), 4) << "left aligned";
  // A line break inside the text does not start a second line.
  const QImage broken = SubtitleStripImage(Subtitle("今日空气\r\n清新"));
  const QRect brokenInk = InkBounds(broken, qRgb(0, 255, 0), broken.rect());
  ASSERT_FALSE(brokenInk.isNull());
  EXPECT_TRUE(QRect(0, (40 - fm.height()) / 2, 300, fm.height()).contains(brokenInk));
  EXPECT_GT(brokenInk.right(), fm.horizontalAdvance(QString::fromUtf8("今日空气")))
      << "清新 follows on the same line";
}

// The clock text is centred in its strip, its trailing blank counted in its width.
TEST(Strips, ClockTextIsCentred) {
  const ClockStrip clock = Clock(false, false, true);
  const QDateTime now(QDate(2024, 3, 5), QTime(18, 45, 30));
  const QImage strip = ClockStripImage(clock, now);
  const QFontMetrics fm(ApplyFontSlot(clock.font));
  const int width = fm.horizontalAdvance(QStringLiteral("18:45:30 "));
  EXPECT_GT(width, fm.horizontalAdvance(QStringLiteral("18:45:30")));
  const QRect cell((330 - width) / 2, (30 - fm.height()) / 2, width, fm.height());
  const QRect ink = InkBounds(strip, qRgb(255, 255, 0), strip.rect());
  ASSERT_FALSE(ink.isNull());
  EXPECT_TRUE(cell.contains(ink)) << ink.x() << " " << cell.x();
  // The blank is part of the cell, so the glyphs end short of its right edge.
  EXPECT_LE(ink.right(), cell.right() - fm.horizontalAdvance(' ') + 1);
}

TEST(Strips, NothingWithoutTickOrArea) {
  struct Case {
    const char* what;
    bool tick;
    int w, h;
  };
  for (const Case& c :
       {Case{"not ticked", false, 300, 40}, Case{"zmw 0", true, 0, 40}, Case{"zmh 0", true, 300, 0}}) {
    SubtitleStrip s = Subtitle("fly");
    s.zmcheck = c.tick;
    s.zmw = c.w;
    s.zmh = c.h;
    EXPECT_TRUE(SubtitleStripImage(s).isNull()) << c.what;
    ClockStrip k = Clock(c.tick, false, false);
    k.tw = c.w;
    k.th = c.h;
    EXPECT_TRUE(ClockStripImage(k, FakeClock().Now()).isNull()) << c.what;
    const std::array<QImage, 4> pages = {Checkered(50, 50), {}, {}, {}};
    EXPECT_EQ(RenderPreviews(pages, s, k, FakeClock().Now())[0], PagePreview(pages[0])) << c.what;
  }
}

// The clock seam gives the time shown.
TEST(Strips, ClockStripShowsTheClocksTime) {
  const FakeClock fake(QDateTime(QDate(2023, 12, 31), QTime(23, 59, 58)));
  const ClockStrip clock = Clock(true, true, true);
  const std::array<QImage, 4> pages = {};
  const auto previews = RenderPreviews(pages, SubtitleStrip{}, clock, fake);
  const QImage strip = ClockStripImage(clock, fake.Now());
  EXPECT_EQ(previews[2].copy(350, 20, 330, 30), strip.copy(0, 0, 330, 30));
  EXPECT_NE(strip, ClockStripImage(clock, fake.Now().addSecs(1)));
}

// The strips are drawn on the previews only; the files hold the bare pages.
TEST(Strips, NeverEnterThePictureFiles) {
  QTemporaryDir dir;
  StationPageInput in;
  in.W = 576;
  in.H = 336;
  in.titles = {G("祯埠镇"), G("石门洞"), G("小舟山"), G("千峡湖")};
  const StationPagesResult result = RenderStationPages(in, PathOf(dir));
  ASSERT_TRUE(result.ok());
  const auto previews =
      RenderPreviews(result.pages, Subtitle("今日空气清新"), Clock(true, true, true), FakeClock().Now());
  for (int n = 1; n <= 4; ++n) {
    const QImage file = DecodeBmp(ReadAll(PathOf(dir) / (std::to_string(n) + ".bmp"))).image;
    EXPECT_EQ(file, result.pages[n - 1]) << n;
    EXPECT_NE(previews[n - 1].copy(0, 0, 576, 336), file) << n;
    EXPECT_TRUE(ColorsIn(file, QRect(40, 250, 300, 40)).count(0x00FF00u) == 0) << n;
  }
}

}  // namespace
}  // namespace aqled
