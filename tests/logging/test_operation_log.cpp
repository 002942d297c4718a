#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "logging/operation_log.h"
#include "test_support.h"

using namespace aqled;
using aqled::testing::FakeClock;
using aqled::testing::G;

namespace {

struct ScreenLine {
  std::string text;
  Rgb colour;
};

class FakeScreen : public LogScreen {
 public:
  int LineCount() const override { return static_cast<int>(lines.size()); }
  void Clear() override {
    lines.clear();
    ++clears;
  }
  void AppendLine(const std::string& gbkLine, Rgb colour) override { lines.push_back({gbkLine, colour}); }
  std::vector<ScreenLine> lines;
  int clears = 0;
};

void Touch(const std::filesystem::path& p) { std::ofstream(p, std::ios::binary) << "x"; }

struct LogFixture : ::testing::Test {
  QTemporaryDir dir;
  std::filesystem::path folder = std::filesystem::path(dir.path().toStdString()) / "log";
  FakeClock clock;
  FakeScreen screen;
  OperationLog log{folder, clock, &screen};
  void SetUp() override {
    std::filesystem::create_directory(folder);
    log.SetLastLogDate(clock.Now().date());
  }
};

}  // namespace

TEST_F(LogFixture, KindsHaveTheirColours) {
  for (int kind : {1, 2, 3, 4}) log.AppendLog(kind, "x");
  ASSERT_EQ(screen.lines.size(), 4u);
  EXPECT_EQ(screen.lines[0].colour, (Rgb{255, 0, 0}));
  EXPECT_EQ(screen.lines[1].colour, (Rgb{0, 255, 0}));
  EXPECT_EQ(screen.lines[2].colour, (Rgb{255, 255, 0}));
  EXPECT_EQ(screen.lines[3].colour, (Rgb{255, 255, 255}));
}

TEST_F(LogFixture, ScreenLineHasTwoBlanksAndFileLineOne) {
  log.AppendLog(3, G("程序开始运行"));
  EXPECT_EQ(screen.lines.at(0).text, "08:05:09:042  " + G("程序开始运行"));
  EXPECT_EQ(aqled::testing::ReadBytes(folder / "Log20240305.txt"),
            "08:05:09:042 " + G("程序开始运行") + "\r\n");
}

TEST_F(LogFixture, TheControlIsEmptiedAfterItHoldsMoreThan200Lines) {
  for (int i = 0; i < 201; ++i) log.AppendLog(4, std::to_string(i));
  EXPECT_EQ(screen.lines.size(), 201u);
  EXPECT_EQ(screen.clears, 0);
  log.AppendLog(4, "next");
  ASSERT_EQ(screen.lines.size(), 1u);
  EXPECT_EQ(screen.lines[0].text.substr(14), "next");
}

TEST_F(LogFixture, DayChangeDeletesOnlyTheFileOfFiveDaysBefore) {
  Touch(folder / "Log20240301.txt");  // five days before 6 March
  Touch(folder / "Log20240229.txt");  // older, stays
  Touch(folder / "Log20240302.txt");  // newer, stays
  log.AppendLog(3, "before midnight");
  EXPECT_TRUE(std::filesystem::exists(folder / "Log20240301.txt"));

  clock.Set(QDateTime(QDate(2024, 3, 6), QTime(0, 0, 1)));
  log.AppendLog(3, "after midnight");
  EXPECT_FALSE(std::filesystem::exists(folder / "Log20240301.txt"));
  EXPECT_TRUE(std::filesystem::exists(folder / "Log20240229.txt"));
  EXPECT_TRUE(std::filesystem::exists(folder / "Log20240302.txt"));
  EXPECT_EQ(aqled::testing::ReadBytes(folder / "Log20240306.txt"), "00:00:01:000 after midnight\r\n");
  EXPECT_EQ(log.LastLogDate(), QDate(2024, 3, 6));
}

TEST(OperationLog, NoLogFolderMeansNoFileAndNoFolder) {
  QTemporaryDir dir;
  const auto folder = std::filesystem::path(dir.path().toStdString()) / "log";
  FakeClock clock;
  FakeScreen screen;
  OperationLog log(folder, clock, &screen);
  log.AppendLog(1, "only on screen");
  EXPECT_EQ(screen.lines.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(OperationLog, FileNameIsTheFourDigitYearMonthAndDay) {
  EXPECT_EQ(DailyLogFileName(QDate(2025, 1, 1)), "Log20250101.txt");
}
