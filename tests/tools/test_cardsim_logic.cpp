#include <gtest/gtest.h>

#include <optional>

#include "card_logic.h"

namespace aqled::cardsim {
namespace {

struct B64Case {
  const char* name;
  std::string text;
  std::optional<std::string> expected;
};

class MimeBase64 : public ::testing::TestWithParam<B64Case> {};

TEST_P(MimeBase64, DecodesAnyLineForm) {
  const auto got = DecodeMimeBase64(GetParam().text);
  ASSERT_EQ(got.has_value(), GetParam().expected.has_value()) << GetParam().name;
  if (got) {
    EXPECT_EQ(got->toStdString(), *GetParam().expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    CardLogic, MimeBase64,
    ::testing::Values(B64Case{"plain", "aHR0cDovLzEyNy4wLjAuMS9zaGFyZS8wMDEuYm1w",
                              "http://127.0.0.1/share/001.bmp"},
                      B64Case{"crlf", "aHR0cDov\r\nLzEyNy4w\r\nLjAuMS9zaGFyZS8wMDEuYm1w\r\n",
                              "http://127.0.0.1/share/001.bmp"},
                      B64Case{"fill", "YWI=", "ab"}, B64Case{"twoFill", "YQ==", "a"},
                      B64Case{"noFill", "YQ", "a"}, B64Case{"empty", "", ""},
                      B64Case{"badChar", "YW*=", std::nullopt}, B64Case{"afterFill", "YQ==YQ", std::nullopt},
                      B64Case{"oneLeft", "YWJjZ", std::nullopt}, B64Case{"threeFill", "Y===", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct PathCase {
  const char* path;
  std::optional<std::string> expected;
};

class StoragePaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(StoragePaths, StayInsideTheStorage) {
  EXPECT_EQ(SafeStoragePath(GetParam().path), GetParam().expected) << GetParam().path;
}

INSTANTIATE_TEST_SUITE_P(CardLogic, StoragePaths,
                         ::testing::Values(PathCase{"share/1_ll.xml", "share/1_ll.xml"},
                                           PathCase{"/share/1_001.bmp", "share/1_001.bmp"},
                                           PathCase{"../etc/passwd", std::nullopt},
                                           PathCase{"share/../../x", std::nullopt},
                                           PathCase{"//x", std::nullopt},
                                           PathCase{"share\\..\\x", std::nullopt}, PathCase{"", std::nullopt},
                                           PathCase{"share/", std::nullopt}, PathCase{"./x", std::nullopt}));

TEST(CardLogic, CommandWithRawLineBreaksInsideAStringStillParses) {
  const auto j = ParseCommand("{\"name\":\"UpdateDynamic\",\"c\":\"YW\r\nI=\"}tail");
  EXPECT_EQ(j["c"], "YWI=");
  EXPECT_EQ(ParseCommand(R"({"name":"play"}{"name":"other"})")["name"], "play");
  EXPECT_THROW(ParseCommand("nonsense"), CardError);
}

TEST(CardLogic, DownloadItemsAreReadAndUnsafeTargetsRefused) {
  const auto input = nlohmann::json::parse(
      R"({"items":[{"srcurl":"http://127.0.0.1:1/share/ll.xml","dstpath": "share","dstfilename":"7_ll.xml","size": "97"},)"
      R"({"srcurl":"http://127.0.0.1:1/share/001.bmp","dstpath": "share","dstfilename":"7_001.bmp","size": "-1"}]})");
  const auto items = ParseDownloadItems(input);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].storagePath, "share/7_ll.xml");
  EXPECT_EQ(items[0].size, 97);
  EXPECT_EQ(items[1].size, -1);
  EXPECT_EQ(items[1].url, "http://127.0.0.1:1/share/001.bmp");
  for (const char* bad :
       {R"({"items":[{"srcurl":"http://127.0.0.1/a","dstpath":"share","dstfilename":"../../a"}]})",
        R"({"items":[{"srcurl":"http://127.0.0.1/a","dstpath":"..","dstfilename":"a"}]})",
        R"({"items":[{"dstpath":"share","dstfilename":"a"}]})", R"({"noitems":1})"})
    EXPECT_THROW(ParseDownloadItems(nlohmann::json::parse(bad)), CardError) << bad;
}

TEST(CardLogic, LoopbackAddressesOnly) {
  EXPECT_TRUE(IsLoopbackUrl("http://127.0.0.1:8080/share/001.bmp"));
  EXPECT_TRUE(IsLoopbackUrl("http://localhost/x"));
  EXPECT_TRUE(IsLoopbackUrl("http://[::1]:80/x"));
  EXPECT_FALSE(IsLoopbackUrl("http://192.168.1.10/share/001.bmp"));
  EXPECT_FALSE(IsLoopbackUrl("http://example.com/x"));
  EXPECT_FALSE(IsLoopbackUrl("file:///etc/passwd"));
}

TEST(CardLogic, ProgramFilesAreRead) {
  const QByteArray ll =
      R"(<?xml version="1.0" encoding="utf-8"?>  <list deviceType="33030" screenWidth="128" screenHeight="64">)"
      R"(    <program order="0" playMode="1" playTime="1" priority="1" loop="0" dates="" times="" weekFlg="127" )"
      R"(programFile="/share/20240305080509_pp.xml" />   </list>)"
      "\r\n";
  EXPECT_EQ(PlaylistProgramFile(ll), "/share/20240305080509_pp.xml");
  const QByteArray pp =
      R"(<?xml version="1.0" encoding="utf-8"?>  <program name="program_0" bgColor="0x00000000">    )"
      R"(<picturepanel x="0" y="0" w="128" h="64" zOrder="0"  transparency="100" pictureType="0">)"
      R"(<picUnit file="/share/20240305080509_002.bmp" fileType="bmp" stuntType="0" stuntSpeed="16" stayTime="10"  order="2"/>)"
      R"(<picUnit file="/share/20240305080509_001.bmp" fileType="bmp" stuntType="0" stuntSpeed="16" stayTime="10"  order="1"/>)"
      R"(    </picturepanel>  </program>)"
      "\r\n";
  const ProgramLayout layout = ParseProgramFile(pp);
  EXPECT_EQ(layout.w, 128);
  EXPECT_EQ(layout.h, 64);
  ASSERT_EQ(layout.pictures.size(), 2u);
  EXPECT_EQ(layout.pictures[0].file, "/share/20240305080509_001.bmp");
  EXPECT_EQ(layout.pictures[1].file, "/share/20240305080509_002.bmp");
  EXPECT_THROW(ParseProgramFile("<program><picturepanel>"), CardError);
  EXPECT_THROW(PlaylistProgramFile("<list></list>"), CardError);
}

TEST(CardLogic, ScreenShowsThePictureAtTheAreaOrigin) {
  QImage red(4, 4, QImage::Format_RGB32);
  red.fill(Qt::red);
  const QImage screen = ComposeScreen(red, 10, 6, 2, 1, 3, 3);
  EXPECT_EQ(screen.size(), QSize(10, 6));
  EXPECT_EQ(screen.pixelColor(2, 1), QColor(Qt::red));
  EXPECT_EQ(screen.pixelColor(4, 3), QColor(Qt::red));
  EXPECT_EQ(screen.pixelColor(5, 3), QColor(Qt::black)) << "clipped to the area";
  EXPECT_EQ(screen.pixelColor(0, 0), QColor(Qt::black));
}

}  // namespace
}  // namespace aqled::cardsim
