#include <gtest/gtest.h>

#include <QFontMetrics>

#include "render/text_page.h"
#include "render_test_util.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::ColorsIn;
using testing::G;
using testing::InkBounds;
using testing::PathOf;
using testing::ReadAll;
using testing::U;
using testing::UmingSlot;

TextPageInput Flowing(const std::string& gbk, int W, int L) {
  TextPageInput in;
  in.W = W;
  in.H = 336;
  in.text = gbk;
  in.layout = kFlowingLayout;
  in.L = L;
  in.font = UmingSlot(16, 255);
  return in;
}

QFontMetrics Metrics(const TextPageInput& in) { return QFontMetrics(ApplyFontSlot(in.font)); }
int W(const QFontMetrics& fm, const char* utf8) { return fm.horizontalAdvance(QString::fromUtf8(utf8)); }

struct Placed {
  std::string text;  // UTF-8
  int x, y;
  bool operator==(const Placed&) const = default;
};

std::vector<Placed> Items(const PageDrawing& page) {
  std::vector<Placed> out;
  for (const TextItem& t : page.texts) out.push_back({U(t.text), t.x, t.y});
  return out;
}

void PrintTo(const Placed& p, std::ostream* os) {
  *os << "\"" << p.text << "\"@(" << p.x << "," << p.y << ")";
}

// Characters flow from (2, L), each measured alone, the line pitch T + L.
TEST(FlowingLayout, CharactersFlowFromTheTopMargin) {
  for (int L : {0, 5, -4}) {
    const TextPageInput in = Flowing("ABC", 576, L);
    const QFontMetrics fm = Metrics(in);
    const std::vector<Placed> expected = {
        {"A", 2, L}, {"B", 2 + W(fm, "A"), L}, {"C", 2 + W(fm, "A") + W(fm, "B"), L}};
    EXPECT_EQ(Items(LayoutTextPage(in)), expected) << "L = " << L;
  }
}

// The wrap test x + w > W - 2 is made before every character: exactly two wide letters fit
// on a page of 2 + 2w + 2, one on a page a pixel narrower.
TEST(FlowingLayout, WrapsBeforeACharacterThatWouldPassTheMargin) {
  TextPageInput in = Flowing("MMM", 0, 3);
  const QFontMetrics fm = Metrics(in);
  const int w = W(fm, "M");
  const int pitch = fm.height() + 3;
  in.W = 2 + 2 * w + 2;
  EXPECT_EQ(Items(LayoutTextPage(in)),
            (std::vector<Placed>{{"M", 2, 3}, {"M", 2 + w, 3}, {"M", 2, 3 + pitch}}));
  in.W -= 1;
  EXPECT_EQ(Items(LayoutTextPage(in)),
            (std::vector<Placed>{{"M", 2, 3}, {"M", 2, 3 + pitch}, {"M", 2, 3 + 2 * pitch}}));
}

// On a page narrower than one character plus 4 pixels every character wraps first, so the first
// line stays empty.
TEST(FlowingLayout, NarrowPageWrapsEveryCharacter) {
  TextPageInput in = Flowing(G("中A"), 0, 2);
  const QFontMetrics fm = Metrics(in);
  in.W = W(fm, "A") + 3;
  const int pitch = fm.height() + 2;
  EXPECT_EQ(Items(LayoutTextPage(in)), (std::vector<Placed>{{"中", 2, 2 + pitch}, {"A", 2, 2 + 2 * pitch}}));
}

// Two-byte characters are never split; a lead byte without a second byte stands alone.
TEST(FlowingLayout, TwoByteCharactersStayWhole) {
  const TextPageInput in = Flowing(G("中A文,") + "\xB0", 576, 0);
  const PageDrawing page = LayoutTextPage(in);
  ASSERT_EQ(page.texts.size(), 5u);
  const std::vector<std::string> bytes = {G("中"), "A", G("文"), ",", "\xB0"};
  for (size_t i = 0; i < bytes.size(); ++i) EXPECT_EQ(page.texts[i].text, bytes[i]) << i;
  const QFontMetrics fm = Metrics(in);
  EXPECT_EQ(page.texts[2].x, 2 + W(fm, "中") + W(fm, "A"));
}

// Every character of a text wrapped at many widths: in order, whole, on the line the wrap rule
// gives, and never beyond the right margin unless alone on its line.
TEST(FlowingLayout, EveryCharacterAtEveryWidth) {
  const std::string text = G("空气质量优，PM2.5 为 35 微克；负氧离子 1200 个每立方厘米。");
  for (int width = 20; width <= 200; width += 7) {
    TextPageInput in = Flowing(text, width, 1);
    in.H = 100000;  // tall enough for every line at the narrowest width
    const QFontMetrics fm = Metrics(in);
    const PageDrawing page = LayoutTextPage(in);
    std::string joined;
    int x = 2, y = 1;
    for (const TextItem& t : page.texts) {
      joined += t.text;
      const int w = fm.horizontalAdvance(ToQString(t.text));
      if (x + w > width - 2) {
        x = 2;
        y += fm.height() + 1;
      }
      ASSERT_EQ(t.x, x) << width << " " << U(t.text);
      ASSERT_EQ(t.y, y) << width << " " << U(t.text);
      ASSERT_TRUE(t.x + w <= width - 2 || t.x == 2) << width;
      x += w;
    }
    EXPECT_EQ(joined, text) << width;
  }
}

// CR LF moves down and draws nothing; a lone CR or LF is a character like any other.
TEST(FlowingLayout, LineBreaksAndLoneControlCharacters) {
  TextPageInput in = Flowing("AB\r\nC\r\n", 576, 4);
  const QFontMetrics fm = Metrics(in);
  const int pitch = fm.height() + 4;
  EXPECT_EQ(Items(LayoutTextPage(in)),
            (std::vector<Placed>{{"A", 2, 4}, {"B", 2 + W(fm, "A"), 4}, {"C", 2, 4 + pitch}}));
  for (const char* lone : {"\r", "\n"}) {
    in.text = std::string("A") + lone + "B";
    const std::vector<Placed> expected = {
        {"A", 2, 4}, {lone, 2 + W(fm, "A"), 4}, {"B", 2 + W(fm, "A") + W(fm, lone), 4}};
    EXPECT_EQ(Items(LayoutTextPage(in)), expected) << (lone[0] == '\r' ? "CR" : "LF");
  }
  in.text = "\n\r\nA";  // LF alone, then CR LF
  EXPECT_EQ(Items(LayoutTextPage(in)), (std::vector<Placed>{{"\n", 2, 4}, {"A", 2, 4 + pitch}}));
}

// With a negative L the lines overlap and the first one starts above the top edge.
TEST(FlowingLayout, NegativeLineSpacingOverlaps) {
  TextPageInput in = Flowing("A\r\nB", 576, -30);
  const QFontMetrics fm = Metrics(in);
  EXPECT_EQ(Items(LayoutTextPage(in)),
            (std::vector<Placed>{{"A", 2, -30}, {"B", 2, -30 + fm.height() - 30}}));
  in.L = -5;
  in.text = "A\r\nB";
  const QImage page = DrawTextPage(in);
  const QRect ink = InkBounds(page, qRgb(255, 0, 0), page.rect());
  ASSERT_FALSE(ink.isNull());
  EXPECT_LT(ink.bottom(), 2 * fm.height() - 10) << "both lines within two character heights less 2 L";
}

// Lines that start below the page cannot be seen and are not laid out, whether a line break or
// the wrap takes them there.
TEST(FlowingLayout, StopsAtTheBottomOfThePage) {
  TextPageInput in = Flowing("A\r\nB\r\nC", 576, 0);
  const int pitch = Metrics(in).height();
  in.H = pitch + 1;  // the second line starts inside the page, the third below it
  EXPECT_EQ(Items(LayoutTextPage(in)), (std::vector<Placed>{{"A", 2, 0}, {"B", 2, pitch}}));
  in.text = "MMM";
  in.W = 2 + W(Metrics(in), "M") + 2;  // one letter a line
  EXPECT_EQ(Items(LayoutTextPage(in)), (std::vector<Placed>{{"M", 2, 0}, {"M", 2, pitch}}));
}

TextPageInput Centred(std::vector<std::string> lines, int W, int H) {
  TextPageInput in;
  in.W = W;
  in.H = H;
  in.layout = kCentredLayout;
  in.L = 17;  // plays no part
  in.font = UmingSlot(16, 255);
  in.lines = std::move(lines);
  for (const auto& l : in.lines) in.text += l + "\r\n";
  return in;
}

// A and B on a page 96 pixels high: band 48, A at (48 - T) div 2, B 48 lower, each centred.
TEST(CentredLayout, TwoLinesShareTheHeight) {
  const TextPageInput in = Centred({"A", "B"}, 200, 96);
  const QFontMetrics fm = Metrics(in);
  const int T = fm.height();
  EXPECT_EQ(Items(LayoutTextPage(in)),
            (std::vector<Placed>{{"A", (200 - W(fm, "A")) / 2, (48 - T) / 2},
                                 {"B", (200 - W(fm, "B")) / 2, (48 - T) / 2 + 48}}));
}

// A line wider than the page gets a negative x and is cut equally on both sides.
TEST(CentredLayout, WideLineStartsLeftOfThePage) {
  const std::string line = G("一二三四五六七八九十一二三四五六七八九十");
  const TextPageInput in = Centred({line}, 150, 50);
  const QFontMetrics fm = Metrics(in);
  const int width = fm.horizontalAdvance(ToQString(line));
  ASSERT_GT(width, 150);
  const PageDrawing page = LayoutTextPage(in);
  ASSERT_EQ(page.texts.size(), 1u);
  EXPECT_EQ(page.texts[0].x, -((width - 150) / 2));
  EXPECT_EQ(page.texts[0].y, (50 - fm.height()) / 2);
}

// More lines than the height holds: the band is smaller than T, y starts negative (rounded
// toward zero) and each line's cell covers the lower part of the one before.
TEST(CentredLayout, CrowdedLinesOverlap) {
  std::vector<std::string> lines(7, "H");
  const TextPageInput probe = Centred(lines, 100, 10);
  const int T = Metrics(probe).height();
  // Choose a height whose band leaves an odd negative band - T.
  int H = 7 * 5;
  if ((H / 7 - T) % 2 == 0) H = 7 * 4;
  const TextPageInput in = Centred(lines, 100, H);
  const int band = H / 7;
  ASSERT_LT(band, T);
  ASSERT_NE((band - T) % 2, 0);
  const PageDrawing page = LayoutTextPage(in);
  ASSERT_EQ(page.texts.size(), 7u);
  EXPECT_EQ(page.texts[0].y, -((T - band) / 2));
  for (size_t i = 1; i < 7; ++i) EXPECT_EQ(page.texts[i].y, page.texts[i - 1].y + band);
  // The last line's black cell is painted over what the earlier lines drew in it.
  const QImage image = DrawTextPage(in);
  const QImage last = [&] {
    QImage alone(100, H, QImage::Format_RGB32);
    alone.fill(Qt::black);
    PaintText(alone, page.texts.back());
    return alone;
  }();
  const QRect cell(page.texts.back().x, page.texts.back().y, Metrics(in).horizontalAdvance('H'), T);
  EXPECT_EQ(image.copy(cell.intersected(image.rect())), last.copy(cell.intersected(image.rect())));
}

TEST(CentredLayout, NoLinesGiveABlackPage) {
  const TextPageInput in = Centred({}, 96, 96);
  EXPECT_TRUE(LayoutTextPage(in).texts.empty());
  const QImage page = DrawTextPage(in);
  EXPECT_EQ(ColorsIn(page, page.rect()), std::set<unsigned>{0u});
}

// The nibbles of a written g.bmp, top row first.
std::vector<std::vector<int>> Indices(const QByteArray& file, int W, int H) {
  std::vector<std::vector<int>> rows(H, std::vector<int>(W));
  const int rowBytes = ((W * 4 + 31) / 32) * 4;
  for (int r = 0; r < H; ++r)
    for (int x = 0; x < W; ++x) {
      const unsigned char b = static_cast<unsigned char>(file[118 + r * rowBytes + x / 2]);
      rows[H - 1 - r][x] = x % 2 == 0 ? b >> 4 : b & 0x0F;
    }
  return rows;
}

std::set<int> IndexSet(const std::vector<std::vector<int>>& rows) {
  std::set<int> s;
  for (const auto& r : rows) s.insert(r.begin(), r.end());
  return s;
}

struct ColourCase {
  const char* what;
  int word;
  int index;  // nearest table entry, worked out from the table
};

class TextPageColourTest : public ::testing::TestWithParam<ColourCase> {};

// The glyphs come out in the table colour nearest to the font colour, never as other colours.
TEST_P(TextPageColourTest, GlyphsInTheNearestTableColour) {
  QTemporaryDir dir;
  TextPageInput in = Flowing(G("空气清新 AQI 35"), 97, 0);  // an odd width: rows need padding
  in.H = 60;
  in.font.color = GetParam().word;
  const TextPageResult result = RenderTextPage(in, PathOf(dir));
  ASSERT_TRUE(result.ok()) << U(result.error);
  const QByteArray file = ReadAll(PathOf(dir) / "g.bmp");
  ASSERT_EQ(file.size(), 118 + 52 * 60);
  EXPECT_EQ(IndexSet(Indices(file, 97, 60)), (std::set<int>{0, GetParam().index})) << GetParam().what;
  const BmpReadResult read = DecodeBmp(file);
  ASSERT_TRUE(read.error.empty());
  EXPECT_EQ(read.image, result.page);
}

INSTANTIATE_TEST_SUITE_P(Colours, TextPageColourTest,
                         ::testing::Values(ColourCase{"default red", 255, 9},
                                           ColourCase{"orange (255, 165, 0)", 0x00A5FF, 11},
                                           ColourCase{"dark teal (0, 140, 130)", 0x828C00, 6},
                                           ColourCase{"near white", 0xF0F0F0, 15}));

// The written page holds the glyphs where the layout put them.
TEST(RenderTextPage, WrittenPixelsMatchTheLayout) {
  QTemporaryDir dir;
  const TextPageInput in = Centred({G("清新空气"), "PM2.5"}, 576, 336);
  const TextPageResult result = RenderTextPage(in, PathOf(dir));
  ASSERT_TRUE(result.ok());
  const QImage file = DecodeBmp(ReadAll(PathOf(dir) / "g.bmp")).image;
  const PageDrawing layout = LayoutTextPage(in);
  const QFontMetrics fm = Metrics(in);
  QRect cells;
  for (const TextItem& t : layout.texts)
    cells |= QRect(t.x, t.y, fm.horizontalAdvance(ToQString(t.text)), fm.height());
  const QRect ink = InkBounds(file, qRgb(255, 0, 0), file.rect());
  ASSERT_FALSE(ink.isNull());
  EXPECT_TRUE(cells.contains(ink));
  EXPECT_EQ(ColorsIn(file, file.rect()), (std::set<unsigned>{0u, 0xFF0000u}));
}

// With no layout chosen the saved page is plain black.
TEST(RenderTextPage, NoSelectionGivesABlackPage) {
  QTemporaryDir dir;
  TextPageInput in = Flowing("ABC", 40, 0);
  in.H = 20;
  in.layout = -1;
  ASSERT_TRUE(RenderTextPage(in, PathOf(dir)).ok());
  const QByteArray file = ReadAll(PathOf(dir) / "g.bmp");
  ASSERT_EQ(file.size(), 118 + 20 * 20);
  EXPECT_EQ(IndexSet(Indices(file, 40, 20)), std::set<int>{0});
}

TEST(RenderTextPage, EmptyDisplayAreaWritesAnEmptyFile) {
  QTemporaryDir dir;
  TextPageInput in = Flowing("ABC", 0, 0);
  const TextPageResult result = RenderTextPage(in, PathOf(dir));
  ASSERT_TRUE(result.ok());
  EXPECT_TRUE(result.page.isNull());
  EXPECT_EQ(std::filesystem::file_size(PathOf(dir) / "g.bmp"), 0u);
}

TEST(RenderTextPage, UnwritableFileIsAnError) {
  QTemporaryDir dir;
  const TextPageResult result = RenderTextPage(Flowing("ABC", 40, 0), PathOf(dir) / "file");
  EXPECT_FALSE(result.ok());
  EXPECT_NE(result.error.find("g.bmp"), std::string::npos) << U(result.error);
}

// The box's lines: hard breaks of every kind, its word wrap, no empty line after a final break.
TEST(TextBoxLines, HardBreaksAndWordWrap) {
  const QFont box = ApplyFontSlot(UmingSlot(15, 0));
  const QFontMetrics fm(box);
  EXPECT_TRUE(TextBoxLines("", 300, box).empty());
  EXPECT_EQ(TextBoxLines("A\r\n\r\nB\rC\nD\r\n", 300, box),
            (std::vector<std::string>{"A", "", "B", "C", "D"}));
  // "alpha beta" in a box that holds "alpha " but not "alpha beta": wrapped at the blank.
  const int width = fm.horizontalAdvance("alpha b");
  EXPECT_EQ(TextBoxLines("alpha beta", width, box), (std::vector<std::string>{"alpha ", "beta"}));
  // A word longer than the width is split inside.
  const std::vector<std::string> long_word = TextBoxLines("abcdefghijklmnopqrstuvwxyz", width, box);
  ASSERT_GT(long_word.size(), 1u);
  std::string joined;
  for (const auto& piece : long_word) {
    joined += piece;
    EXPECT_LE(fm.horizontalAdvance(QString::fromStdString(piece)), width) << piece;
  }
  EXPECT_EQ(joined, "abcdefghijklmnopqrstuvwxyz");
  // Chinese wraps between characters and stays GBK.
  const std::vector<std::string> cjk =
      TextBoxLines(G("空气清新空气清新"), fm.horizontalAdvance(QString::fromUtf8("空气清")), box);
  EXPECT_EQ(cjk, (std::vector<std::string>{G("空气清"), G("新空气"), G("清新")}));
}

}  // namespace
}  // namespace aqled
