#include <gtest/gtest.h>

#include <QString>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "test_support.h"
#include "text/datetime.h"
#include "text/gbk.h"
#include "text/strings.h"

using namespace aqled;
using aqled::testing::G;

TEST(Gbk, ChineseTextRoundTripsThroughUtf8) {
  const std::string gbk = "\xCA\xB5\xCA\xB1\xCA\xFD\xBE\xDD";  // 实时数据
  EXPECT_EQ(GbkToUtf8(gbk), "实时数据");
  EXPECT_EQ(Utf8ToGbk("实时数据"), gbk);
  EXPECT_EQ(ToQString(gbk), QString::fromUtf8("实时数据"));
  EXPECT_EQ(FromQString(QString::fromUtf8("日均值 ok")), "\xC8\xD5\xBE\xF9\xD6\xB5 ok");
}

TEST(Gbk, CharactersGbkLacksBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToGbk("a\xC3\xA9"
                      "b"),
            "a\xA8\xA6"
            "b");                                 // é exists in GBK
  EXPECT_EQ(Utf8ToGbk("x\xE0\xB8\x81y"), "x?y");  // Thai ก does not
  EXPECT_EQ(FromQString(QString::fromUtf8("a\xF0\x9F\x98\x80z")), "a?z");
}

TEST(Gbk, StrictDecodeEmptiesMalformedText) {
  EXPECT_EQ(Utf8ToGbk("abc\xE5\xAE"), "");               // cut short
  EXPECT_EQ(Utf8ToGbk("abc\xE5\x41\xAE"), "");           // continuation outside 80..BF
  EXPECT_EQ(Utf8ToGbk(std::string("\x96\x00", 2)), "");  // a frame header byte pair
  EXPECT_EQ(Utf8ToGbk(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Utf8ToGbk(""), "");
}

struct FourByteCase {
  const char* name;
  std::string utf8;
  std::string gbk;  // empty: the whole text is rejected
};
void PrintTo(const FourByteCase& c, std::ostream* os) { *os << c.name; }
class FourByteSequences : public ::testing::TestWithParam<FourByteCase> {};

// A well-formed four-byte character is one "?"; a malformed four-byte sequence empties the text.
TEST_P(FourByteSequences, AreOneCharacterOrRejectTheText) {
  EXPECT_EQ(Utf8ToGbk(GetParam().utf8), GetParam().gbk);
}

INSTANTIATE_TEST_SUITE_P(
    Strict, FourByteSequences,
    ::testing::Values(FourByteCase{"Emoji", "<p>\xF0\x9F\x98\x80</p>", "<p>?</p>"},
                      FourByteCase{"RareHanCharacter", "\xF0\xA0\xAE\xB7 ok", "? ok"},  // 𠮷
                      FourByteCase{"TwoInARowBesideChinese", "\xE5\xAE\x9E\xF0\x9F\x98\x80\xF0\x9F\x98\x80",
                                   "\xCA\xB5??"},
                      FourByteCase{"HighestCodePoint", "a\xF4\x8F\xBF\xBF", "a?"},
                      FourByteCase{"CutShort", "a\xF0\x9F\x98", ""},
                      FourByteCase{"CutShortBeforeText", "\xF0\x9F\x98z", ""},
                      FourByteCase{"ContinuationOutOfRange", "\xF0\x9F\x41\x80", ""},
                      FourByteCase{"Overlong", "\xF0\x80\x80\x80", ""},
                      FourByteCase{"BeyondUnicode", "\xF4\x90\x80\x80", ""},
                      FourByteCase{"LeadF5", "\xF5\x80\x80\x80", ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct PathCase {
  const char* name;
  std::string native;  // the bytes of the file name (UTF-8 where it is UTF-8)
};
void PrintTo(const PathCase& c, std::ostream* os) { *os << c.name; }
class PathsThroughGbk : public ::testing::TestWithParam<PathCase> {};

// Whatever the file system allows comes back unchanged from its GBK text.
TEST_P(PathsThroughGbk, ComeBackUnchanged) {
  const std::filesystem::path path(GetParam().native);
  const std::string gbk = GbkFromPath(path);
  EXPECT_EQ(PathFromGbk(gbk).native(), path.native());
  // The GBK text parts like the path: an escape holds no separator or dot.
  EXPECT_EQ(PathFromGbk(FileNameOf(gbk)).native(), path.filename().native());
  EXPECT_EQ(PathFromGbk(ExtensionOf(gbk)).native(), LowerAscii(path.extension().native()));
  EXPECT_EQ(gbk.find('?'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PathsThroughGbk,
    ::testing::Values(PathCase{"Ascii", "/tmp/app/file/1.bmp"},
                      PathCase{"Chinese", "/tmp/\xE5\xB2\x9A\xE6\xBE\x88/config.ini"},  // 岚澈
                      PathCase{"Korean",
                               "/tmp/\xED\x95\x9C\xEA\xB8\x80 \xED\x8F\xB4\xEB\x8D\x94/"},  // 한글 폴더
                      PathCase{"Emoji", "/tmp/a\xF0\x9F\x98\x80z/x.jpg"},
                      PathCase{"MixedWithGbk", "/tmp/\xEC\x95\x84\xE5\xAE\x9E;x.bmp"},  // 아实
                      PathCase{"BytesThatAreNoUtf8", "/tmp/caf\xE9/\xFF\x80x/\xED\xA0\x80"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Gbk, EscapedCharactersShowAsThemselves) {
  const std::string gbk = GbkFromPath(std::filesystem::path("/tmp/\xED\x95\x9C\xE5\xAE\x9E"));  // 한实
  EXPECT_EQ(GbkToUtf8(gbk), "/tmp/\xED\x95\x9C\xE5\xAE\x9E");
  EXPECT_EQ(ToQString(gbk), QString::fromUtf8("/tmp/한实"));
  // GBK stays GBK: the Chinese character is its two GBK bytes.
  EXPECT_NE(gbk.find("\xCA\xB5"), std::string::npos);
  // A stray byte of a file name shows as "?".
  EXPECT_EQ(GbkToUtf8(GbkFromPath(std::filesystem::path("a\xE9z"))), "a?z");
  // Text conversions keep their "?" for what GBK lacks.
  EXPECT_EQ(FromQString(QString::fromUtf8("한")), "?");
}

TEST(Gbk, UndecodableGbkBytesBecomeQuestionMarks) {
  EXPECT_EQ(GbkToUtf8("a\xFF"
                      "b"),
            "a?b");
}

TEST(Strings, TrimRemovesControlBytesAndBlanksAtTheEndsOnly) {
  EXPECT_EQ(Trim(std::string("\t\r\n \x01 a b \x1f\x20", 10)), "a b");
  EXPECT_EQ(Trim("   "), "");
  EXPECT_EQ(Trim(G("实 时")), G("实 时"));
}

TEST(Strings, CaseChangesOnlyAsciiLetters) {
  EXPECT_EQ(UpperAscii(G("heartBeat实")), G("HEARTBEAT实"));
  EXPECT_EQ(LowerAscii("PROMO.JPG"), "promo.jpg");
  EXPECT_EQ(LowerAscii('Z'), 'z');
  EXPECT_EQ(LowerAscii('\xC1'), '\xC1');
}

struct DecimalCase {
  const char* text;
  std::optional<std::uint64_t> value;
};

class DecimalDigits : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalDigits, AreReadOrRefused) {
  EXPECT_EQ(ParseDecimal(GetParam().text), GetParam().value) << GetParam().text;
}

constexpr std::uint64_t kLargest = 18446744073709551615u;
INSTANTIATE_TEST_SUITE_P(
    Texts, DecimalDigits,
    ::testing::Values(DecimalCase{"0", 0u}, DecimalCase{"007", 7u}, DecimalCase{"65535", 65535u},
                      DecimalCase{"18446744073709551615", kLargest},     // the largest
                      DecimalCase{"18446744073709551616", kLargest},     // one more saturates
                      DecimalCase{"99999999999999999999999", kLargest},  //
                      DecimalCase{"", std::nullopt}, DecimalCase{"-1", std::nullopt},
                      DecimalCase{"+1", std::nullopt}, DecimalCase{" 1", std::nullopt},
                      DecimalCase{"1a", std::nullopt}, DecimalCase{"1.0", std::nullopt}));

struct CutCase {
  std::string text;
  std::size_t maxBytes;
  std::string front;
};

class GbkCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(GbkCut, EndsOnACharacterBoundary) {
  EXPECT_EQ(CutGbk(GetParam().text, GetParam().maxBytes), GetParam().front);
}

INSTANTIATE_TEST_SUITE_P(Texts, GbkCut,
                         ::testing::Values(CutCase{"abc", 2, "ab"}, CutCase{"abc", 9, "abc"},
                                           CutCase{G("实时"), 3, G("实")}, CutCase{"a" + G("实"), 2, "a"},
                                           CutCase{"ab\x80\x41", 3, "ab\x80"},  // 0x80 leads nothing
                                           CutCase{"ab\x81\x41", 3, "ab"}, CutCase{"ab\xFE\x41", 3, "ab"},
                                           CutCase{"ab\xFF\x41", 3, "ab\xFF"}));  // nor does 0xFF

TEST(Strings, FormatDirectives) {
  EXPECT_EQ(Format("%.3d.bmp", {12}), "012.bmp");
  EXPECT_EQ(Format("%.3d", {1234}), "1234");
  EXPECT_EQ(Format("a%sb%dc%%", {std::string_view("X"), -7}), "aXb-7c%");
  EXPECT_EQ(Format("%s and %s", {std::string_view("one")}), "one and %s");
}

TEST(Strings, ReplaceFirstChangesOneOccurrence) {
  EXPECT_EQ(ReplaceFirst("A,DOWNITEM,DOWNITEM", "DOWNITEM", "x"), "A,x,DOWNITEM");
  EXPECT_EQ(ReplaceFirst("abc", "Z", "x"), "abc");
}

TEST(Strings, FileNameAndExtensionUseEverySeparator) {
  EXPECT_EQ(FileNameOf("D:\\ads\\PROMO.JPG"), "PROMO.JPG");
  EXPECT_EQ(FileNameOf("/home/a/x.jpg"), "x.jpg");
  EXPECT_EQ(FileNameOf("C:x.bmp"), "x.bmp");
  EXPECT_EQ(ExtensionOf("D:\\ads\\PROMO.JPG"), ".jpg");
  EXPECT_EQ(ExtensionOf("D:\\a.dir\\noext"), "");
  EXPECT_EQ(ExtensionOf("clip.MP4"), ".mp4");
  // 誠 is D5 5C in GBK: its second byte is no backslash.
  EXPECT_EQ(FileNameOf("D:\\ads\\\xD5\x5C"
                       "a.jpg"),
            "\xD5\x5C"
            "a.jpg");
  EXPECT_EQ(FileNameOf("/p/\xD5\x5C"
                       "b.bmp"),
            "\xD5\x5C"
            "b.bmp");
  EXPECT_EQ(ExtensionOf("D:\\x.\xD5\x5C"), ".\xD5\x5C");
  EXPECT_EQ(FileNameOf(G("D:\\广告\\图.jpg")), G("图.jpg"));
}

TEST(Strings, SplitLinesAcceptsEveryLineEnd) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), (V{"a"}));
  EXPECT_EQ(SplitLines("a\n\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitLines(""), V{});
}

TEST(DateTime, SystemPatterns) {
  const QDateTime t(QDate(2024, 3, 5), QTime(8, 5, 9, 42));
  EXPECT_EQ(FormatDateTime("hh:nn:ss:zzz ", t), "08:05:09:042 ");
  EXPECT_EQ(FormatDateTime("YYYMMDD", t), "20240305");
  EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", t), "20240305080509");
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd", t), "2024-03-05");
  EXPECT_EQ(FormatDateTime("hh", QDateTime(QDate(2024, 3, 5), QTime(23, 0))), "23");
  EXPECT_EQ(GbkToUtf8(FormatDateTime("dddd", t)), "星期二");
  EXPECT_EQ(GbkToUtf8(FormatDateTime("dddd", QDateTime(QDate(2024, 3, 10), QTime()))), "星期日");
}
