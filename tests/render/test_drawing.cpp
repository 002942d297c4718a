#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>

#include "render/drawing.h"
#include "render_test_util.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::ColorsIn;
using testing::G;
using testing::InkBounds;
using testing::Rgb;
using testing::UmingSlot;

struct PixelCase {
  int points;
  int pixels;
};

class FontPixelsTest : public ::testing::TestWithParam<PixelCase> {};

// Points become pixels at 96 per inch, rounded: points * 96 / 72.
TEST_P(FontPixelsTest, PointsBecomePixelsAt96PerInch) {
  const QFont font = ApplyFontSlot(UmingSlot(GetParam().points, 255));
  EXPECT_EQ(font.pixelSize(), GetParam().pixels) << GetParam().points << " points";
}

INSTANTIATE_TEST_SUITE_P(Sizes, FontPixelsTest,
                         ::testing::Values(PixelCase{16, 21}, PixelCase{12, 16}, PixelCase{9, 12},
                                           PixelCase{14, 19}, PixelCase{2, 3}, PixelCase{72, 96},
                                           PixelCase{1, 1}, PixelCase{0, 1}, PixelCase{-6, 1}));

TEST(ApplyFontSlot, BoldExactlyForStyleOneAndNeverItalicOrUnderlined) {
  for (int style : {0, 1, 2, -1, 3}) {
    const QFont font = ApplyFontSlot(UmingSlot(16, 255, style));
    EXPECT_EQ(font.bold(), style == 1) << "style " << style;
    EXPECT_FALSE(font.italic());
    EXPECT_FALSE(font.underline());
    EXPECT_FALSE(font.strikeOut());
    EXPECT_EQ(font.styleStrategy() & QFont::NoAntialias, QFont::NoAntialias);
  }
}

TEST(ApplyFontSlot, SizeCanBeGivenInsteadOfTheSlots) {
  const QFont font = ApplyFontSlot(UmingSlot(30, 255, 1), 16);
  EXPECT_EQ(font.pixelSize(), 21);
  EXPECT_TRUE(font.bold());
}

TEST(ApplyFontSlot, GbkFaceNameReachesTheFont) {
  FontSlot slot;  // 宋体
  EXPECT_EQ(ApplyFontSlot(slot).family(), QString::fromUtf8("宋体"));
  FontSlot dejavu = slot;
  dejavu.name = "DejaVu Serif";
  EXPECT_EQ(QFontInfo(ApplyFontSlot(dejavu)).family(), QString("DejaVu Serif"));
}

// A Windows face that is not installed draws in the installed Song-style face.
TEST(ApplyFontSlot, MissingFaceFallsBackToTheSongFace) {
  FontSlot slot;  // 宋体, not installed here
  EXPECT_EQ(QFontInfo(ApplyFontSlot(slot)).family(), QString("AR PL UMing CN"));
  slot.name = G("新宋体");
  EXPECT_EQ(QFontInfo(ApplyFontSlot(slot)).family(), QString("AR PL UMing CN"));
}

TEST(ColorOfWord, LowestByteIsRed) {
  struct Case {
    int word;
    QColor color;
  };
  for (const Case& c :
       {Case{255, QColor(255, 0, 0)}, Case{0x00FF00, QColor(0, 255, 0)}, Case{0xFF0000, QColor(0, 0, 255)},
        Case{0x12345678, QColor(0x78, 0x56, 0x34)}, Case{0, QColor(0, 0, 0)}}) {
    EXPECT_EQ(ColorOfWord(c.word), c.color) << std::hex << c.word;
  }
}

TEST(TextMeasure, AreTheFontsOwnMetrics) {
  const QFont font = ApplyFontSlot(UmingSlot(16, 255));
  const QFontMetrics fm(font);
  EXPECT_EQ(TextWidth(font, G("臭氧")), fm.horizontalAdvance(QString::fromUtf8("臭氧")));
  EXPECT_EQ(TextWidth(font, ""), 0);
  EXPECT_EQ(TextHeight(font), fm.size(Qt::TextSingleLine, QStringLiteral("h")).height());
  EXPECT_EQ(TextHeight(ApplyFontSlot(UmingSlot(40, 255, 1))),
            QFontMetrics(ApplyFontSlot(UmingSlot(40, 255, 1)))
                .size(Qt::TextSingleLine, QStringLiteral("h"))
                .height());
}

// A text paints exactly its cell: black where the glyphs are not, the font colour where they
// are, nothing outside; no colour in between, since glyphs are not smoothed.
TEST(PaintText, PaintsAnOpaqueCellAndPureGlyphs) {
  for (const char* utf8 : {"PM2.5", "臭氧", "μg/m"}) {
    QImage image(120, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QFont font = ApplyFontSlot(UmingSlot(16, 255));
    const std::string text = G(utf8);
    PaintText(image, {text, font, QColor(255, 0, 0), 7, 9});
    const QFontMetrics fm(font);
    const QRect cell(7, 9, fm.horizontalAdvance(QString::fromUtf8(utf8)), fm.height());
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const unsigned c = Rgb(image, x, y);
        if (cell.contains(x, y)) {
          ASSERT_TRUE(c == 0x000000u || c == 0xFF0000u)
              << utf8 << " at " << x << "," << y << " " << std::hex << c;
        } else {
          ASSERT_EQ(c, 0xFFFFFFu) << utf8 << " outside the cell at " << x << "," << y;
        }
      }
    }
    EXPECT_TRUE(ColorsIn(image, cell).count(0xFF0000u)) << utf8 << " drew no glyph";
  }
}

// What lies left of or above the image is cut off; the rest is the same drawing moved.
TEST(PaintText, PartsOutsideTheImageAreCutOff) {
  const QFont font = ApplyFontSlot(UmingSlot(16, 0x00FFFF));
  QImage whole(100, 40, QImage::Format_RGB32);
  whole.fill(Qt::black);
  PaintText(whole, {G("臭氧"), font, QColor(0, 255, 255), 10, 10});
  QImage cut(100, 40, QImage::Format_RGB32);
  cut.fill(Qt::black);
  PaintText(cut, {G("臭氧"), font, QColor(0, 255, 255), -5, -3});
  for (int y = 0; y + 13 < 40; ++y)
    for (int x = 0; x + 15 < 100; ++x) ASSERT_EQ(Rgb(cut, x, y), Rgb(whole, x + 15, y + 13)) << x << "," << y;
  EXPECT_FALSE(InkBounds(cut, qRgb(0, 255, 255), cut.rect()).isNull());
}

struct LineCase {
  LineItem line;
  QRect covered;  // the pixels the pen rule gives
};

class PaintLineTest : public ::testing::TestWithParam<LineCase> {};

// A pen of width p covers the p pixels from (coordinate - p div 2) across the line, and the
// line runs from its start to its end point, both included.
TEST_P(PaintLineTest, CoversThePensPixels) {
  QImage image(40, 30, QImage::Format_RGB32);
  image.fill(Qt::black);
  PaintLine(image, GetParam().line);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(Rgb(image, x, y), GetParam().covered.contains(x, y) ? 0x00FF00u : 0u) << x << "," << y;
}

const QColor kGreen(0, 255, 0);
INSTANTIATE_TEST_SUITE_P(
    Pens, PaintLineTest,
    ::testing::Values(
        LineCase{{2, QPoint(2, 3), QPoint(20, 3), kGreen}, QRect(QPoint(2, 2), QPoint(20, 3))},
        LineCase{{2, QPoint(20, 3), QPoint(2, 3), kGreen}, QRect(QPoint(2, 2), QPoint(20, 3))},
        LineCase{{3, QPoint(10, 5), QPoint(10, 25), kGreen}, QRect(QPoint(9, 5), QPoint(11, 25))},
        LineCase{{2, QPoint(3, 2), QPoint(3, 27), kGreen}, QRect(QPoint(2, 2), QPoint(3, 27))},
        LineCase{{1, QPoint(0, 29), QPoint(39, 29), kGreen}, QRect(QPoint(0, 29), QPoint(39, 29))},
        LineCase{{2, QPoint(-5, 0), QPoint(50, 0), kGreen}, QRect(QPoint(0, 0), QPoint(39, 0))}));

}  // namespace
}  // namespace aqled
