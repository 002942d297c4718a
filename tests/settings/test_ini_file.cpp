#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>

#include "settings/ini_file.h"
#include "test_support.h"

using namespace aqled;
using aqled::testing::G;

namespace {

struct IntegerCase {
  const char* stored;
  int expected;  // with the fallback 77
};

class IniIntegers : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(IniIntegers, ReadsDecimalAndHexAndFallsBackOnAnythingElse) {
  const IniFile ini("[Set]\r\nstuntSpeed=" + std::string(GetParam().stored) + "\r\n");
  EXPECT_EQ(ini.ReadInteger("Set", "stuntSpeed", 77), GetParam().expected) << GetParam().stored;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IniIntegers,
    ::testing::Values(IntegerCase{"32", 32}, IntegerCase{"0x20", 32}, IntegerCase{"0X20", 32},
                      IntegerCase{"$20", 32}, IntegerCase{"$ff", 255}, IntegerCase{"-5", -5},
                      IntegerCase{"+8", 8}, IntegerCase{"  7 \t", 7}, IntegerCase{"0", 0},
                      IntegerCase{"2147483647", 2147483647}, IntegerCase{"-2147483648", -2147483647 - 1},
                      IntegerCase{"2147483648", 77}, IntegerCase{"99999999999", 77}, IntegerCase{"", 77},
                      IntegerCase{"abc", 77}, IntegerCase{"1.5", 77}, IntegerCase{"12abc", 77},
                      IntegerCase{"0x", 77}, IntegerCase{"$", 77}, IntegerCase{"0x1G", 77},
                      IntegerCase{"1 2", 77}, IntegerCase{"--1", 77}, IntegerCase{"-2147483649", 77},
                      // The lowest 64-bit value and its neighbours (the sanitizer build catches a
                      // negation before the range check).
                      IntegerCase{"-9223372036854775808", 77}, IntegerCase{"-9223372036854775807", 77},
                      IntegerCase{"-9223372036854775809", 77}, IntegerCase{"9223372036854775808", 77},
                      IntegerCase{"-18446744073709551615", 77}));

TEST(IniFile, SectionAndKeyNamesMatchInAnyLetterCase) {
  const IniFile ini("[pATH]\r\nHTTPBASEDIR=http://x/\r\n[set]\r\nSENDKIND=2\r\n");
  EXPECT_EQ(ini.ReadString("Path", "HttpBaseDir", "-"), "http://x/");
  EXPECT_EQ(ini.ReadInteger("Set", "sendkind", 1), 2);
}

TEST(IniFile, GbkNamesMatchOnlyTheSameCharacters) {
  const IniFile ini(G("[其它设置]\r\n列1宽=5000\r\n") + "[\x81\x41]\r\nk=1\r\n");
  EXPECT_EQ(ini.ReadInteger(G("其它设置"), G("列1宽"), 0), 5000);
  EXPECT_EQ(ini.ReadInteger("\x81\x41", "K", 0), 1);
  // The trail byte 0x61 is 'a', 0x41 is 'A': two different characters, not a case pair.
  EXPECT_EQ(ini.ReadInteger("\x81\x61", "k", 0), 0);
}

TEST(IniFile, ValuesAreTrimmedAndCutAt2047Bytes) {
  const std::string longValue(3000, 'a');
  // A double-byte character that would be split by the cut is left out whole.
  const std::string split = std::string(2046, 'b') + "\xD6\xD0" + "cc";
  const IniFile ini("[S]\r\nblank= \t a b \x01\r\nlong=" + longValue + "\r\nsplit=" + split + "\r\n");
  EXPECT_EQ(ini.ReadString("S", "blank", "-"), "a b");
  EXPECT_EQ(ini.ReadString("S", "long", "-"), std::string(2047, 'a'));
  EXPECT_EQ(ini.ReadString("S", "split", "-"), std::string(2046, 'b'));
}

TEST(IniFile, MissingSectionOrKeyGivesTheDefaultAndTheFirstOccurrenceWins) {
  const IniFile ini("top=1\r\n[A]\r\nk=first\r\nk=second\r\n; k=comment\r\n[A]\r\nj=later\r\n[B]\r\n");
  EXPECT_EQ(ini.ReadString("A", "k", "-"), "first");
  EXPECT_EQ(ini.ReadString("A", "j", "-"), "-");  // only the first section [A] counts
  EXPECT_EQ(ini.ReadString("B", "k", "-"), "-");
  EXPECT_EQ(ini.ReadString("C", "k", "-"), "-");
  EXPECT_EQ(ini.ReadString("", "top", "-"), "-");  // keys before any section belong to none
  EXPECT_EQ(ini.ReadString("A", "; k", "-"), "-");
}

TEST(IniFile, FlagsAreAnyIntegerOtherThanZero) {
  const IniFile ini("[S]\r\na=1\r\nb=0\r\nc=-3\r\nd=yes\r\n");
  EXPECT_TRUE(ini.ReadBool("S", "a", false));
  EXPECT_FALSE(ini.ReadBool("S", "b", true));
  EXPECT_TRUE(ini.ReadBool("S", "c", false));
  EXPECT_TRUE(ini.ReadBool("S", "d", true));
  EXPECT_FALSE(ini.ReadBool("S", "d", false));
}

TEST(IniFile, ALeadingUtf8MarkDoesNotHideTheFirstSection) {
  const IniFile ini("\xEF\xBB\xBF[Path]\r\nFileBaseDir=/srv/x/\r\n");
  EXPECT_EQ(ini.ReadString("Path", "FileBaseDir", "-"), "/srv/x/");
}

TEST(IniFile, DamagedFileGivesDefaultsAndLosesNothingWhenWritten) {
  static const char kHead[] = "\x00\xFF\xFE junk\n[unclosed\rno equals here\r\n=v\r\n";
  const std::string head(kHead, sizeof kHead - 1);
  const std::string damaged = head + "[Set]\nstayTime=abc\n\n[Other]\r\nx=1";
  IniFile ini(damaged);
  EXPECT_EQ(ini.ReadInteger("Set", "stayTime", 10), 10);
  EXPECT_EQ(ini.Bytes(), damaged);

  ini.WriteInteger("Set", "stayTime", 12);
  ini.WriteInteger("Set", "stuntType", 3);
  ini.WriteString("Other", "y", "2");
  ini.WriteString("New", "k", "a\r\nb");
  const std::string expected = head +
                               "[Set]\nstayTime=12\nstuntType=3\r\n\n[Other]\r\nx=1\r\ny=2\r\n"
                               "\r\n[New]\r\nk=a  b\r\n";
  EXPECT_EQ(ini.Bytes(), expected);
}

TEST(IniFile, WriteReplacesTheKeyLineInPlace) {
  IniFile ini("; settings\r\n[A]\r\n  Key = old \r\nother=1\r\n");
  ini.WriteString("a", "key", "new");
  EXPECT_EQ(ini.Bytes(), "; settings\r\n[A]\r\nkey=new\r\nother=1\r\n");
}

TEST(IniFile, WritingIntoAnEmptyFileCreatesSections) {
  IniFile ini;
  ini.WriteBool("A", "f", true);
  ini.WriteInteger("A", "n", -1);
  ini.WriteInteger("B", "n", 7);
  EXPECT_EQ(ini.Bytes(), "[A]\r\nf=1\r\nn=-1\r\n\r\n[B]\r\nn=7\r\n");
}

TEST(IniFile, LoadTellsMissingFromUnreadable) {
  QTemporaryDir dir;
  const std::filesystem::path base(dir.path().toStdString());
  const auto missing = IniFile::Load(base / "config.ini");
  EXPECT_FALSE(missing.exists);

  std::filesystem::create_directory(base / "setup.ini");
  const auto unreadable = IniFile::Load(base / "setup.ini");
  EXPECT_TRUE(unreadable.exists);
  EXPECT_FALSE(unreadable.readable);

  std::ofstream(base / "ok.ini", std::ios::binary) << "[S]\nk=v\n";
  const auto ok = IniFile::Load(base / "ok.ini");
  EXPECT_TRUE(ok.readable);
  EXPECT_EQ(ok.ini.ReadString("S", "k", "-"), "v");
}

}  // namespace
