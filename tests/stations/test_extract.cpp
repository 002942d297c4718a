// The cutting rules and the page text, byte for byte on GBK text.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "stations/catalogue.h"
#include "stations/extract.h"
#include "stations/page_text.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::G;
using testing::U;

struct BetweenCase {
  const char* name;
  std::string text, start, end, expected;
};
void PrintTo(const BetweenCase& c, std::ostream* os) { *os << c.name; }

class TextBetweenTest : public ::testing::TestWithParam<BetweenCase> {};

TEST_P(TextBetweenTest, CutsAsDescribed) {
  const BetweenCase& c = GetParam();
  EXPECT_EQ(TextBetween(c.text, c.start, c.end), c.expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextBetweenTest,
    ::testing::Values(BetweenCase{"plain", "xx<tr>abc</tr>yy", "<tr>", "</tr>", "abc"},
                      BetweenCase{"first of each", "<tr>a</tr><tr>b</tr>", "<tr>", "</tr>", "a"},
                      BetweenCase{"trimmed", "<tr> \t x y \r\n</tr>", "<tr>", "</tr>", "x y"},
                      BetweenCase{"no end marker", "<tr>abc", "<tr>", "</tr>", ""},
                      BetweenCase{"end only before start", "</tr>x<tr>abc", "<tr>", "</tr>", ""},
                      // Start missing: the rest begins at byte 4 (length of "<tr>"), so "ab|" is skipped.
                      BetweenCase{"missing start skips length-1 bytes", "ab|cd|ef", "<tr>", "|", "cd"},
                      BetweenCase{"missing start, end inside skipped bytes only", "a|bcd", "<tr>", "|", ""},
                      BetweenCase{"missing start, text shorter than the skip", "ab", "<tr>", "b", ""},
                      BetweenCase{"end right after start", "<tr></tr>", "<tr>", "</tr>", ""},
                      // GBK: "实时数据" is 8 bytes, so 7 are skipped when it is missing.
                      BetweenCase{"gbk markers", G("前实时数据 PM 日均值后"), G("实时数据"), G("日均值"),
                                  "PM"},
                      BetweenCase{"gbk missing start", G("一二三四五") + "X" + G("日均值"), G("实时数据"),
                                  G("日均值"), G("一二三四五").substr(7) + "X"}),
    [](const auto& info) {
      std::string n;
      for (char ch : std::string(info.param.name))
        n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return n;
    });

struct TagCase {
  const char* name;
  std::string text, expected;
};
void PrintTo(const TagCase& c, std::ostream* os) { *os << c.name; }

class StripFirstTagTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(StripFirstTagTest, RemovesOnlyTheFirstTag) {
  EXPECT_EQ(StripFirstTag(GetParam().text), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Cases, StripFirstTagTest,
                         ::testing::Values(TagCase{"leading tag", "<a href=\"x\">text", "text"},
                                           TagCase{"text in front stays", "lead <b> tail", "lead  tail"},
                                           TagCase{"only the first", "<x><y>z", "<y>z"},
                                           TagCase{"trimmed after removal", "  <x> \t z \r", "z"},
                                           TagCase{"gt before lt", "a > b <c>", "a > b <c>"},
                                           TagCase{"no gt", "<unclosed", "<unclosed"},
                                           TagCase{"no lt", "a > b", "a > b"},
                                           TagCase{"no tag trimmed anyway", "  plain  ", "plain"},
                                           TagCase{"empty", "", ""}));

struct CellCase {
  std::string text, cell, rest;
};

class CellTest : public ::testing::TestWithParam<CellCase> {};

TEST_P(CellTest, CellTextAndSkipToCellEnd) {
  EXPECT_EQ(CellText(GetParam().text), GetParam().cell);
  EXPECT_EQ(SkipToCellEnd(GetParam().text), GetParam().rest);
}

INSTANTIATE_TEST_SUITE_P(Cases, CellTest,
                         ::testing::Values(CellCase{" 18 </td><td>96</td>", "18", "</td><td>96</td>"},
                                           CellCase{"</td>x", "", "</td>x"},
                                           CellCase{"no cell end", "", "no cell end"}, CellCase{"", "", ""}));

// Page pieces in the data site's layout (GBK).
std::string Tags(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += "<t" + std::to_string(i) + " class=\"c\">";
  return out;
}

std::string LevelRow(const std::string& level) {
  return "<tr>" + Tags(5) + G("空气清新度") + "</span><span class=\"lv\">" + level + "</span></tr>";
}

// Four tags, negative ions, "</td>", six tags, PM2.5, "</td>", six tags, ozone, "</td>".
std::string ValuesRow(const std::string& ions, const std::string& pm25, const std::string& ozone) {
  return "<tr>" + Tags(4) + ions + "</td>" + Tags(6) + pm25 + "</td>" + Tags(6) + ozone +
         "</td><td>tail</td></tr>";
}

std::string Block(const std::string& time, const std::string& row) {
  return G("实时数据") + "</p3><span class=\"t\">" + time + "</span>" + row + "<tr><th>x</th></tr>" +
         G("日均值") + ValuesRow("1", "2", "3");
}

struct ExtractCase {
  const char* name;
  std::string page;
  PageReadings expected;  // level, negativeIons, pm25, ozone, publishTime
};
void PrintTo(const ExtractCase& c, std::ostream* os) { *os << c.name; }

class ExtractReadingsTest : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractReadingsTest, CutsTheFiveTexts) {
  const ExtractCase& c = GetParam();
  const PageReadings got = ExtractReadings(c.page);
  EXPECT_EQ(U(got.level), U(c.expected.level)) << c.name;
  EXPECT_EQ(U(got.negativeIons), U(c.expected.negativeIons)) << c.name;
  EXPECT_EQ(U(got.pm25), U(c.expected.pm25)) << c.name;
  EXPECT_EQ(U(got.ozone), U(c.expected.ozone)) << c.name;
  EXPECT_EQ(U(got.publishTime), U(c.expected.publishTime)) << c.name;
}

std::vector<ExtractCase> ExtractCases() {
  const std::string level = G("清新");
  const std::string time = "2024-03-05 08:00";
  return {
      {"worked example",
       LevelRow(level) + Block(time, ValuesRow("1250", "18", "96")),
       {level, "1250", "18", "96", time}},
      {"empty page", "", {}},
      {"no markers", "hello world, nothing here", {}},
      // Without "实时数据" the block starts at byte 8: the "</p3>" within the first 7 bytes
      // is skipped and the next one is used.
      {"daily mean without real-time marker",
       "</p3>XY</p3><i>10:00</span>" + ValuesRow("5", "6", "7") + G("日均值"),
       {"", "5", "6", "7", "10:00"}},
      {"real-time marker without daily mean",
       LevelRow(level) + G("实时数据") + "</p3><span>" + time + "</span>" + ValuesRow("1250", "18", "96"),
       {level, "", "", "", ""}},
      {"row without cell ends",
       LevelRow(level) + Block(time, "<tr>" + Tags(4) + "1250<b>18<b>96</tr>"),
       {level, "", "", "", time}},
      {"dash values",
       LevelRow(level) + Block(time, ValuesRow("1250", "-", "-")),
       {level, "1250", "-", "-", time}},
      {"blanks inside cells",
       LevelRow(level) + Block(time, ValuesRow(" 1250\t", " 18 ", "  96 ")),
       {level, "1250", "18", "96", time}},
      // A ">" ahead of the first "<" makes the four skips no-ops: the cell keeps the tags.
      {"gt before the first tag",
       LevelRow(level) +
           Block(time, "<tr>x>y" + Tags(4) + "1250</td>" + Tags(6) + "18</td>" + Tags(6) + "96</td></tr>"),
       {level, "x>y" + Tags(4) + "1250", "18", "96", time}},
      // Only one tag is removed in front of the level; a second one stays in it.
      {"second tag stays in level",
       "<tr>" + Tags(5) + "label</span><span><em>" + level + "</span></tr>" +
           Block(time, ValuesRow("1250", "18", "96")),
       {"<em>" + level, "1250", "18", "96", time}},
      {"text between time marker and tag stays",
       LevelRow(level) + G("实时数据") + "</p3>at <span>" + time + "</span>" + ValuesRow("1", "2", "3") +
           G("日均值"),
       {level, "1", "2", "3", "at " + time}},
  };
}

INSTANTIATE_TEST_SUITE_P(Pages, ExtractReadingsTest, ::testing::ValuesIn(ExtractCases()),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

struct LinesCase {
  const char* name;
  std::string text, expected;
};
void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

class JoinTrimmedLinesTest : public ::testing::TestWithParam<LinesCase> {};

TEST_P(JoinTrimmedLinesTest, TrimsEachLineAndJoins) {
  EXPECT_EQ(JoinTrimmedLines(GetParam().text), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JoinTrimmedLinesTest,
    ::testing::Values(LinesCase{"crlf", "  <tr>\r\n\t<td>1</td>  \r\n</tr>\r\n", "<tr><td>1</td></tr>"},
                      LinesCase{"lf only", "  <tr>\n    <td>1</td>\n  </tr>\n", "<tr><td>1</td></tr>"},
                      LinesCase{"cr only", "a \r b\r c", "abc"},
                      LinesCase{"mixed and empty lines", "a\r\n\r\n\n b \r\rc\n", "abc"},
                      LinesCase{"inner blanks stay", " x  y \r\n z ", "x  yz"},
                      LinesCase{"control bytes trimmed", "\x01\x1F x \x7F\x02\r\n", "x \x7F"},
                      LinesCase{"empty", "", ""}));

TEST(PageTextTest, LongLinesAreKeptWhole) {
  // Far beyond a 4096-byte line: nothing of the line may be lost.
  const std::string longLine(10000, 'a');
  const std::string text = " " + longLine + "X\n" + longLine + "Y ";
  EXPECT_EQ(JoinTrimmedLines(text), longLine + "X" + longLine + "Y");
}

struct BodyCase {
  const char* name;
  std::string body, expected;
};
void PrintTo(const BodyCase& c, std::ostream* os) { *os << c.name; }

class PageTextFromBodyTest : public ::testing::TestWithParam<BodyCase> {};

TEST_P(PageTextFromBodyTest, DecodesStrictlyThenJoins) {
  EXPECT_EQ(U(PageTextFromBody(GetParam().body)), U(GetParam().expected)) << GetParam().name;
  EXPECT_EQ(PageTextFromBody(GetParam().body), GetParam().expected) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Cases, PageTextFromBodyTest,
                         ::testing::Values(
                             // "实时数据" in GBK is CA B5 CA B1 CA FD BE DD.
                             BodyCase{"utf8 to gbk",
                                      "<p3>\xE5\xAE\x9E\xE6\x97\xB6\xE6\x95\xB0\xE6\x8D\xAE</p3>\r\n x",
                                      "<p3>\xCA\xB5\xCA\xB1\xCA\xFD\xBE\xDD</p3>x"},
                             BodyCase{"character gbk lacks", "m\xC2\xB3 \r\n", "m?"},
                             BodyCase{"sequence cut short", "ok\r\n\xE6\xB8", ""},
                             BodyCase{"continuation out of range", "<p>\xE6\xB8</p>\r\nrest", ""},
                             BodyCase{"lone continuation lead", "a\xC3(b", ""}));

TEST(StationCatalogueTest, UrlsFollowTheBaseAndTheSiteIds) {
  const StationUrlTable urls = BuildStationUrls("https://127.0.0.1:8443");
  EXPECT_EQ(urls[1], "https://127.0.0.1:8443/zjqxkqfb/site/9efe4be1d20c476e8f1438f06e56d870");
  EXPECT_EQ(urls[2], "https://127.0.0.1:8443/zjqxkqfb/site/63f8c09c64024cfaae367e84ff0dce7d");
  EXPECT_EQ(urls[3], "https://127.0.0.1:8443/zjqxkqfb/site/24e8f36a598a4a8ea1d3a92c42e192fd");
  EXPECT_EQ(urls[4], "https://127.0.0.1:8443/zjqxkqfb/site/c3387c02136b4348812567a547e771c0");
  EXPECT_EQ(BuildStationUrls("https://host/")[2],
            "https://host/zjqxkqfb/site/63f8c09c64024cfaae367e84ff0dce7d");
  EXPECT_EQ(BuildStationUrls("")[1],
            std::string(kDefaultStationSite) + "/zjqxkqfb/site/9efe4be1d20c476e8f1438f06e56d870");
  EXPECT_EQ(U(StationName(1)), "祯埠镇");
  EXPECT_EQ(U(StationName(2)), "石门洞");
  EXPECT_EQ(U(StationName(3)), "小舟山");
  EXPECT_EQ(U(StationName(4)), "千峡湖");
  EXPECT_EQ(StationName(0), "");
  EXPECT_EQ(StationName(5), "");
}

}  // namespace
}  // namespace aqled
