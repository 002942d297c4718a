#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "compose/picture_list.h"
#include "test_support.h"
#include "text/gbk.h"

namespace aqled {
namespace {

using testing::G;
using testing::RecordingLog;

StationReadings GoodReadings() {
  StationReadings r;
  for (int k = 1; k <= 4; ++k) r[k] = {"12", "80", "1500", G("一级")};
  return r;
}

class PictureListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    app_ = GbkFromPath(std::filesystem::path(dir_.path().toStdString())) + "/";
    pics_ = app_ + "file/";
    std::filesystem::create_directory(PathFromGbk(pics_));
    in_.appFolder = app_;
    in_.readings = GoodReadings();
    in_.renderTextPage = [this] {
      ++renders_;
      testing::WriteBytes(PathFromGbk(pics_ + "g.bmp"), "x");
    };
  }
  void AddCopy(const std::string& name) { testing::WriteBytes(PathFromGbk(pics_ + name), "x"); }

  QTemporaryDir dir_;
  std::string app_, pics_;
  PictureListInputs in_;
  // The picture list assembled from in_, as the window keeps it.
  std::string Assemble() {
    std::string list;
    AssemblePictureList(in_, list, log_);
    return list;
  }
  int renders_ = 0;
  std::string list_;
  RecordingLog log_;
};

TEST_F(PictureListTest, OrderIsStationsThenTextPageThenAdvertisements) {
  AddCopy("b.jpg");
  AddCopy("a.bmp");
  in_.choice = {true, true, true};
  in_.advertisements = {"C:\\ads\\b.jpg", "/home/op/a.bmp"};
  const std::string list = Assemble();
  EXPECT_EQ(list, app_ + "file/1.bmp;" + app_ + "file/2.bmp;" + app_ + "file/3.bmp;" + app_ + "file/4.bmp;" +
                      app_ + "file/g.bmp;" + app_ + "file/b.jpg;" + app_ + "file/a.bmp;");
  EXPECT_EQ(renders_, 1);
  ASSERT_EQ(log_.lines.size(), 7u);
  const std::vector<std::string> expected = {
      G("添加 祯埠镇数据 ") + app_ + "file/1.bmp", G("添加 石门洞数据 ") + app_ + "file/2.bmp",
      G("添加 小舟山数据 ") + app_ + "file/3.bmp", G("添加 千峡湖数据 ") + app_ + "file/4.bmp",
      G("添加 文本 ") + app_ + "file/g.bmp",       G("添加 广告 ") + app_ + "file/b.jpg",
      G("添加 广告 ") + app_ + "file/a.bmp"};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(log_.lines[i].kind, 3) << i;
    EXPECT_EQ(log_.lines[i].text, expected[i]) << i;
  }
}

struct DashCase {
  const char* name;
  int station;
  const char* pm25;
  const char* ozone;
  std::vector<int> listed;
  std::string leftOutLine;  // the kind-1 line (UTF-8) of the station left out; none for a dash
};

class PictureListDashTest : public PictureListTest, public ::testing::WithParamInterface<DashCase> {};

TEST_P(PictureListDashTest, StationWithADashOrAnEmptyReadingIsLeftOut) {
  const DashCase& c = GetParam();
  in_.readings[c.station].pm25 = c.pm25;
  in_.readings[c.station].ozone = c.ozone;
  in_.choice = {true, false, false};
  std::string expected;
  for (int k : c.listed) expected += app_ + "file/" + std::to_string(k) + ".bmp;";
  EXPECT_EQ(Assemble(), expected);
  EXPECT_EQ(log_.lines.size(), c.listed.size() + (c.leftOutLine.empty() ? 0 : 1));
  std::vector<std::string> errors;
  for (const auto& line : log_.lines)
    if (line.kind == 1) errors.push_back(testing::U(line.text));
  EXPECT_EQ(errors,
            c.leftOutLine.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.leftOutLine});
}

INSTANTIATE_TEST_SUITE_P(
    Readings, PictureListDashTest,
    ::testing::Values(
        DashCase{"OzoneDoubleDash", 3, "12", "--", {1, 2, 4}, ""},
        DashCase{"OzoneSingleDash", 3, "12", "-", {1, 2, 4}, ""},
        DashCase{"Pm25Dash", 1, "-", "80", {2, 3, 4}, ""},
        DashCase{"DashInsideText", 4, "1-2", "80", {1, 2, 3}, ""},
        DashCase{
            "EmptyTextsAreLeftOutWithALine", 2, "", "", {1, 3, 4}, "不添加 石门洞数据: PM2.5或臭氧数据为空"},
        DashCase{"EmptyPm25", 4, "", "80", {1, 2, 3}, "不添加 千峡湖数据: PM2.5或臭氧数据为空"},
        DashCase{"EmptyOzone", 1, "12", "", {2, 3, 4}, "不添加 祯埠镇数据: PM2.5或臭氧数据为空"},
        DashCase{"ADashBeforeAnEmptyTextStaysSilent", 3, "-", "", {1, 2, 4}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

struct AgeCase {
  const char* name;
  const char* publishTime;  // of station 2
  int maxAgeHours;
  bool listed;
};

class PictureListAgeTest : public PictureListTest, public ::testing::WithParamInterface<AgeCase> {};

TEST_P(PictureListAgeTest, ReadingsOlderThanTheLimitAreLeftOutWithALine) {
  const AgeCase& c = GetParam();
  for (int k = 1; k <= 4; ++k) in_.publishTimes[k] = "2024-03-05 13:00";
  in_.publishTimes[2] = G(c.publishTime);
  in_.now = QDateTime(QDate(2024, 3, 5), QTime(14, 0, 30));
  in_.maxDataAgeHours = c.maxAgeHours;
  in_.choice = {true, false, false};
  const std::string list = Assemble();
  EXPECT_EQ(list.find("file/2.bmp") != std::string::npos, c.listed) << list;
  EXPECT_EQ(std::count(list.begin(), list.end(), ';'), c.listed ? 4 : 3);
  if (c.listed) {
    EXPECT_EQ(log_.lines.size(), 4u);
    EXPECT_TRUE(
        std::none_of(log_.lines.begin(), log_.lines.end(), [](const auto& l) { return l.kind == 1; }));
  } else {
    ASSERT_EQ(log_.lines.size(), 4u);
    EXPECT_EQ(log_.lines[1].kind, 1);
    EXPECT_EQ(testing::U(log_.lines[1].text), "不添加 石门洞数据: 数据已过期 (超过 " +
                                                  std::to_string(c.maxAgeHours) + " 小时), 发布时间 " +
                                                  c.publishTime);
  }
}

INSTANTIATE_TEST_SUITE_P(Readings, PictureListAgeTest,
                         ::testing::Values(AgeCase{"JustOverTheLimit", "2024-03-05 08:00", 6, false},
                                           AgeCase{"ExactlyTheLimitIsNotOlder", "2024-03-05 08:00:30", 6,
                                                   true},
                                           AgeCase{"WithSeconds", "2024-03-05 08:00:29", 6, false},
                                           AgeCase{"DaysOld", "2024-03-01 14:00", 6, false},
                                           AgeCase{"WithoutLeadingZeros", "2024-3-5 7:00", 6, false},
                                           AgeCase{"BlanksAround", " 2024-03-05 07:00 ", 6, false},
                                           AgeCase{"ALongerLimit", "2024-03-05 07:00", 12, true},
                                           AgeCase{"RuleOff", "2024-03-01 14:00", 0, true},
                                           AgeCase{"NegativeIsOff", "2024-03-01 14:00", -3, true},
                                           AgeCase{"NotADateIsNotJudged", "昨天 08:00", 6, true},
                                           AgeCase{"NoTimeIsNotJudged", "", 6, true},
                                           AgeCase{"NoSuchDay", "2024-02-30 08:00", 6, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The clock says 14:00:30; a publish time more than an hour ahead is no reading of now, whatever
// the age limit.
struct AheadCase {
  const char* name;
  const char* publishTime;
  int maxAgeHours;
  bool listed;
};
void PrintTo(const AheadCase& c, std::ostream* os) { *os << c.name; }

class PictureListAheadTest : public PictureListTest, public ::testing::WithParamInterface<AheadCase> {};

TEST_P(PictureListAheadTest, PublishTimesFarAheadAreLeftOutWithALine) {
  const AheadCase& c = GetParam();
  in_.publishTimes[3] = G(c.publishTime);
  in_.now = QDateTime(QDate(2024, 3, 5), QTime(14, 0, 30));
  in_.maxDataAgeHours = c.maxAgeHours;
  in_.choice = {true, false, false};
  const AssemblyReport report = AssemblePictureList(in_, list_, log_);
  EXPECT_EQ(report.stations, c.listed ? (std::vector<int>{1, 2, 3, 4}) : (std::vector<int>{1, 2, 4}));
  EXPECT_EQ(report.leftOut, c.listed ? 0 : 1);
  if (!c.listed) {
    ASSERT_EQ(log_.lines.size(), 4u);
    EXPECT_EQ(log_.lines[2].kind, 1);
    EXPECT_EQ(testing::U(log_.lines[2].text),
              std::string("不添加 小舟山数据: 发布时间 ") + c.publishTime + " 晚于当前时间一小时以上");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Readings, PictureListAheadTest,
    ::testing::Values(AheadCase{"AnHourAheadIsTheClocksDifference", "2024-03-05 15:00:30", 6, true},
                      AheadCase{"JustOverAnHourAhead", "2024-03-05 15:00:31", 6, false},
                      AheadCase{"TheNextDay", "2024-03-06 09:00", 6, false},
                      AheadCase{"FarAheadWithTheAgeRuleOff", "2099-01-01 00:00", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PictureListTest, TheDigestFollowsThePicturesBytesAndOrder) {
  AddCopy("a.bmp");
  testing::WriteBytes(PathFromGbk(pics_ + "b.bmp"), "y");
  const std::string a = pics_ + "a.bmp;", b = pics_ + "b.bmp;";
  const std::string ab = PictureListDigest(a + b);
  EXPECT_EQ(PictureListDigest(a + b), ab);
  EXPECT_NE(PictureListDigest(b + a), ab);
  EXPECT_NE(PictureListDigest(a), ab);
  EXPECT_NE(PictureListDigest(""), PictureListDigest(pics_ + "missing.bmp;"));
  testing::WriteBytes(PathFromGbk(pics_ + "b.bmp"), "z");
  EXPECT_NE(PictureListDigest(a + b), ab);
}

TEST_F(PictureListTest, WithoutAClockNothingIsJudgedStale) {
  in_.publishTimes[1] = "2000-01-01 00:00";
  in_.maxDataAgeHours = 6;
  in_.choice = {true, false, false};
  const std::string list = Assemble();
  EXPECT_NE(list.find("file/1.bmp"), std::string::npos);
  EXPECT_EQ(std::count_if(log_.lines.begin(), log_.lines.end(), [](const auto& l) { return l.kind == 1; }),
            0);
}

TEST_F(PictureListTest, NoBoxCheckedGivesEmptyListAndNoLine) {
  AddCopy("a.bmp");
  in_.advertisements = {"/x/a.bmp"};
  in_.choice = {false, false, false};
  std::string list = "old;";
  AssemblePictureList(in_, list, log_);
  EXPECT_EQ(list, "");
  EXPECT_TRUE(log_.lines.empty());
  EXPECT_EQ(renders_, 0);
}

TEST_F(PictureListTest, OnlyAdvertisementsAndNoneQualifies) {
  AddCopy("clip.mp4");
  in_.advertisements = {"/x/clip.mp4", "/x/missing.jpg"};
  in_.choice = {false, false, true};
  EXPECT_EQ(Assemble(), "");
  EXPECT_TRUE(log_.lines.empty());
}

TEST_F(PictureListTest, ExtensionIgnoresCaseAndNameKeepsItsCase) {
  AddCopy("PROMO.JPG");
  AddCopy("Shop.Jpeg");
  AddCopy("drive.bmp");
  in_.advertisements = {"D:\\ads\\PROMO.JPG", "/media/Shop.Jpeg", "C:drive.bmp"};
  in_.choice = {false, false, true};
  EXPECT_EQ(Assemble(), app_ + "file/PROMO.JPG;" + app_ + "file/Shop.Jpeg;" + app_ + "file/drive.bmp;");
}

TEST_F(PictureListTest, VideosOtherPicturesAndSemicolonNamesNeverListed) {
  for (const char* n : {"a.mp4", "b.gif", "c.png", "d.avi", "e.jpg", "f;g.jpg"}) AddCopy(n);
  in_.advertisements = {"/s/a.mp4", "/s/b.gif", "/s/c.png", "/s/d.avi", "/s/e.jpg", "/s/f;g.jpg"};
  in_.choice = {false, false, true};
  EXPECT_EQ(Assemble(), app_ + "file/e.jpg;");
}

TEST_F(PictureListTest, SameFileNameFromTwoFoldersListedTwice) {
  AddCopy("x.jpg");
  in_.advertisements = {"C:\\a\\x.jpg", "D:\\b\\x.jpg"};
  in_.choice = {false, false, true};
  EXPECT_EQ(Assemble(), app_ + "file/x.jpg;" + app_ + "file/x.jpg;");
}

TEST_F(PictureListTest, TenEntriesEndWithSemicolon) {
  for (int i = 1; i <= 5; ++i) AddCopy("ad" + std::to_string(i) + ".jpg");
  for (int i = 1; i <= 5; ++i) in_.advertisements.push_back("/ads/ad" + std::to_string(i) + ".jpg");
  in_.choice = {true, true, true};
  const std::string list = Assemble();
  EXPECT_EQ(std::count(list.begin(), list.end(), ';'), 10);
  ASSERT_FALSE(list.empty());
  EXPECT_EQ(list.back(), ';');
  EXPECT_EQ(log_.lines.size(), 10u);
}

TEST_F(PictureListTest, RenderingErrorPassesThroughAndKeepsStationEntries) {
  AddCopy("a.jpg");
  in_.advertisements = {"/ads/a.jpg"};
  in_.choice = {true, true, true};
  in_.readings[2].ozone = "--";
  in_.renderTextPage = [] { throw std::runtime_error("g.bmp cannot be written"); };
  std::string list;
  EXPECT_THROW(AssemblePictureList(in_, list, log_), std::runtime_error);
  EXPECT_EQ(list, app_ + "file/1.bmp;" + app_ + "file/3.bmp;" + app_ + "file/4.bmp;");
  EXPECT_EQ(log_.lines.size(), 3u);
}

TEST_F(PictureListTest, AdvertisementCopyGoneDuringRenderingIsSkipped) {
  AddCopy("a.jpg");
  AddCopy("b.jpg");
  in_.advertisements = {"/ads/a.jpg", "/ads/b.jpg"};
  in_.choice = {false, true, true};
  in_.renderTextPage = [this] { std::filesystem::remove(PathFromGbk(pics_ + "a.jpg")); };
  EXPECT_EQ(Assemble(), app_ + "file/g.bmp;" + app_ + "file/b.jpg;");
  EXPECT_EQ(log_.lines.size(), 2u);
}

TEST(PictureListDisplayable, ExtensionsAcrossSeparators) {
  EXPECT_TRUE(IsDisplayablePicture("a.BMP"));
  EXPECT_TRUE(IsDisplayablePicture("C:\\x.y\\a.JpEg"));
  EXPECT_FALSE(IsDisplayablePicture("C:\\pics.jpg\\movie"));
  EXPECT_FALSE(IsDisplayablePicture("/pics.bmp/movie"));
  EXPECT_FALSE(IsDisplayablePicture("C:pics.jpg:x"));
  EXPECT_FALSE(IsDisplayablePicture("a.jpg.mp4"));
}

}  // namespace
}  // namespace aqled
