#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <optional>

#include "file_size_limit.h"
#include "logging/operation_log.h"
#include "test_support.h"

using namespace aqled;
using aqled::testing::FakeClock;
using aqled::testing::G;
using aqled::testing::ReadBytes;
using aqled::testing::U;

namespace {

// A screen that counts its updates.
class FakeScreen : public LogScreen {
 public:
  int HeldLines() const override { return static_cast<int>(lines.size()); }
  void ClearLines() override {
    lines.clear();
    ++clears;
  }
  void AppendLines(const std::vector<ScreenLine>& batch) override {
    lines.insert(lines.end(), batch.begin(), batch.end());
    ++appends;
  }
  void ReplaceLastLine(const ScreenLine& line) override {
    if (lines.empty()) lines.push_back(line);
    lines.back() = line;
    ++replaces;
  }
  int Updates() const { return clears + appends + replaces; }
  // The lines as UTF-8.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const ScreenLine& l : lines) out.push_back(U(l.gbkText));
    return out;
  }
  std::vector<ScreenLine> lines;
  int clears = 0, appends = 0, replaces = 0;
};

// A clock that moves one millisecond each time it is read.
class TickingClock : public FakeClock {
 public:
  QDateTime Now() const override {
    const QDateTime now = FakeClock::Now();
    const_cast<TickingClock*>(this)->Advance(1);
    return now;
  }
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
    log.Housekeep(clock.Now().date());
  }
  std::string Today() const { return ReadBytes(folder / DailyLogFileName(clock.Now().date())); }
};

}  // namespace

TEST_F(LogFixture, KindsHaveTheirColours) {
  for (int kind : {1, 2, 3, 4}) log.AppendLog(kind, "x");
  log.FlushBatch();
  ASSERT_EQ(screen.lines.size(), 4u);
  EXPECT_EQ(screen.lines[0].colour, (Rgb{255, 0, 0}));
  EXPECT_EQ(screen.lines[1].colour, (Rgb{0, 255, 0}));
  EXPECT_EQ(screen.lines[2].colour, (Rgb{255, 255, 0}));
  EXPECT_EQ(screen.lines[3].colour, (Rgb{255, 255, 255}));
}

TEST_F(LogFixture, ScreenLineHasTwoBlanksAndFileLineOne) {
  log.AppendLog(3, G("程序开始运行"));
  log.FlushBatch();
  EXPECT_EQ(screen.lines.at(0).gbkText, "08:05:09:042  " + G("程序开始运行"));
  EXPECT_EQ(Today(), "08:05:09:042 " + G("程序开始运行") + "\r\n");
}

TEST(OperationLog, AScreenLineAndItsFileLineCarryOneTimeStamp) {
  QTemporaryDir dir;
  const auto folder = std::filesystem::path(dir.path().toStdString());
  TickingClock clock;
  FakeScreen screen;
  {
    OperationLog log(folder, clock, &screen);
    log.AppendLog(3, "a");
    log.AppendHeartbeat("b", {1, "[1]"});
  }  // closing shows what was gathered
  EXPECT_EQ(screen.Texts(), (std::vector<std::string>{"08:05:09:042  a", "08:05:09:043  b"}));
  EXPECT_EQ(ReadBytes(folder / "Log20240305.txt"), "08:05:09:042 a\r\n08:05:09:043 b\r\n");
}

// The lines on the control before a batch, the lines of the batch, and what the control then
// holds: line by line, the control is emptied before a line when it holds more than 200.
struct ClearCase {
  int shown, batch;
  std::size_t held;
  std::string first;  // the text of the control's first line
};

class ScreenRule : public LogFixture, public ::testing::WithParamInterface<ClearCase> {};

TEST_P(ScreenRule, ABatchLeavesWhatLineByLineWouldLeave) {
  for (int i = 0; i < GetParam().shown; ++i) log.AppendLog(4, "shown " + std::to_string(i));
  log.FlushBatch();
  const int clears = screen.clears;
  for (int i = 0; i < GetParam().batch; ++i) log.AppendLog(4, std::to_string(i));
  log.FlushBatch();
  ASSERT_EQ(screen.lines.size(), GetParam().held);
  EXPECT_EQ(screen.lines[0].gbkText.substr(14), GetParam().first);
  EXPECT_LE(screen.clears - clears, 1);
}

INSTANTIATE_TEST_SUITE_P(OperationLog, ScreenRule,
                         ::testing::Values(ClearCase{0, 201, 201, "0"},       // the 201st line still fits
                                           ClearCase{201, 1, 1, "0"},         // the next empties the control
                                           ClearCase{150, 100, 49, "51"},     // 51 fit, then a fresh screen
                                           ClearCase{0, 10000, 151, "9849"},  // 49 full screens pass unseen
                                           ClearCase{200, 1, 201, "shown 0"}));

TEST_F(LogFixture, TenThousandLinesMakeAHandfulOfScreenUpdates) {
  QElapsedTimer elapsed;
  elapsed.start();
  log.AppendLog(3, "first");
  EXPECT_EQ(screen.Updates(), 0) << "a line is gathered first";
  for (int i = 0; i < 10000; ++i) {
    log.AppendLog(3, std::to_string(i));
    if (i % 100 == 99) QCoreApplication::processEvents();
  }
  EXPECT_TRUE(aqled::testing::WaitFor(
      [&] { return !screen.lines.empty() && screen.lines.back().gbkText.substr(14) == "9999"; }));
  // One update of each kind per batch, and a batch at most every 250 ms.
  EXPECT_LE(screen.Updates(), 3 * (elapsed.elapsed() / 250 + 2));
  EXPECT_LE(screen.Updates(), 12);
  ASSERT_EQ(log.RecentLines().size(), 50u);
  EXPECT_EQ(log.RecentLines().front().gbkText.substr(14), "9950");
  const std::string file = Today();
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 10001);
}

// Heartbeats fold on the screen. Steps: "A" and "B" a heartbeat of card A or B, "x" another
// line, "|" a batch shown; the clock moves 10 s at each line.
struct FoldCase {
  const char* name;
  std::string steps;
  std::vector<std::string> screen;
};

class HeartbeatFold : public LogFixture, public ::testing::WithParamInterface<FoldCase> {};

TEST_P(HeartbeatFold, ARunFromOneCardIsOneScreenLine) {
  int lines = 0;
  for (char step : GetParam().steps) {
    if (step == '|') {
      log.FlushBatch();
      continue;
    }
    if (step == 'x') {
      log.AppendLog(2, "x");
    } else {
      log.AppendHeartbeat(G("收到:{\"name\":\"heartbeat\"}"),
                          {step == 'A' ? 1u : 2u, G(step == 'A' ? "[标签:A]" : "[127.0.0.1]")});
    }
    ++lines;
    clock.Advance(10000);
  }
  log.FlushBatch();
  EXPECT_EQ(screen.Texts(), GetParam().screen);
  std::vector<std::string> recent;
  for (const ScreenLine& line : log.RecentLines()) recent.push_back(U(line.gbkText));
  EXPECT_EQ(recent, GetParam().screen) << "the lines kept for the status page";
  const std::string file = Today();
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), lines) << "the file keeps every line";
}

const std::string kBeat = "收到:{\"name\":\"heartbeat\"}";

INSTANTIATE_TEST_SUITE_P(
    OperationLog, HeartbeatFold,
    ::testing::Values(FoldCase{"One", "A", {"08:05:09:042  " + kBeat}},
                      FoldCase{"OverBatches", "A|A|A", {"08:05:09:042  [标签:A] 收到心跳 ×3, 最后 08:05:29"}},
                      // Another line or another card ends a run.
                      FoldCase{"RunsEnd",
                               "AAx|AABA",
                               {"08:05:09:042  [标签:A] 收到心跳 ×2, 最后 08:05:19", "08:05:29:042  x",
                                "08:05:39:042  [标签:A] 收到心跳 ×2, 最后 08:05:49", "08:05:59:042  " + kBeat,
                                "08:06:09:042  " + kBeat}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LogFixture, DayChangeDeletesEveryDailyFileFiveDaysOrMoreBefore) {
  // 6 March is the new day: files of 1 March and before go; 2 March on, and other names, stay.
  const std::vector<std::pair<std::string, bool>> files = {
      {"Log20240301.txt", false}, {"Log20231225.txt", false},    {"Log20240302.txt", true},
      {"Log20240305.txt", true},  {"Log20240310.txt", true},     {"log20240101.txt", true},
      {"Log20240101.TXT", true},  {"Log20240101.txt.bak", true}, {"Log2024010.txt", true},
      {"Log20240231.txt", true},  {"Log2024o101.txt", true},     {"old.txt", true}};
  for (const auto& [name, stays] : files) Touch(folder / name);
  std::filesystem::create_directory(folder / "Log20240102.txt");
  log.AppendLog(3, "before midnight");
  EXPECT_TRUE(std::filesystem::exists(folder / "Log20240301.txt"));

  clock.Set(QDateTime(QDate(2024, 3, 6), QTime(0, 0, 1)));
  log.AppendLog(3, "after midnight");
  for (const auto& [name, stays] : files) EXPECT_EQ(std::filesystem::exists(folder / name), stays) << name;
  EXPECT_TRUE(std::filesystem::is_directory(folder / "Log20240102.txt"));
  EXPECT_EQ(ReadBytes(folder / "Log20240306.txt"), "00:00:01:000 after midnight\r\n");
  EXPECT_EQ(log.LastLogDate(), QDate(2024, 3, 6));
}

TEST(OperationLog, NoLogFolderMeansNoFileAndNoFolder) {
  QTemporaryDir dir;
  const auto folder = std::filesystem::path(dir.path().toStdString()) / "log";
  FakeClock clock;
  FakeScreen screen;
  OperationLog log(folder, clock, &screen);
  log.AppendLog(1, "only on screen");
  log.AppendLog(1, "and again");
  log.FlushBatch();
  EXPECT_EQ(screen.lines.size(), 2u) << "no report of unwritten lines";
  EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST(OperationLog, FileNameIsTheFourDigitYearMonthAndDay) {
  EXPECT_EQ(DailyLogFileName(QDate(2025, 1, 1)), "Log20250101.txt");
}

namespace {

// No descriptor left for the process within a scope.
class NoDescriptors {
 public:
  NoDescriptors() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit none = saved_;
    none.rlim_cur = 0;
    setrlimit(RLIMIT_NOFILE, &none);
  }
  ~NoDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

// A failure of the daily file while three lines are logged, its mending, what the file holds
// before the next line, and the reason the report names.
struct FailureCase;

}  // namespace

class UnwrittenLines : public LogFixture, public ::testing::WithParamInterface<FailureCase> {
 public:
  std::optional<aqled::testing::FileSizeLimit> full;
  std::optional<NoDescriptors> none;
};

namespace {

struct FailureCase {
  const char* name;
  void (*fail)(UnwrittenLines&);
  void (*mend)(UnwrittenLines&);
  std::string kept;
  std::string reason;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }
void RemoveFolder(UnwrittenLines& t) { std::filesystem::remove_all(t.folder); }
void MakeFolder(UnwrittenLines& t) { std::filesystem::create_directory(t.folder); }

}  // namespace

TEST_P(UnwrittenLines, AreCountedAndReportedOnceWritingWorksAgain) {
  log.AppendLog(3, "before");
  log.FlushBatch();
  GetParam().fail(*this);
  for (const char* text : {"1", "2", "3"}) log.AppendLog(3, text);
  log.FlushBatch();
  GetParam().mend(*this);
  log.AppendLog(3, "after");
  const std::string stamp = FormatDateTime("hh:nn:ss:zzz ", clock.Now());
  const std::string report = "3 行日志未能写入文件 (" + GetParam().reason + ")";
  EXPECT_EQ(U(Today()), GetParam().kept + stamp + "after\r\n" + stamp + report + "\r\n");
  log.FlushBatch();
  EXPECT_EQ(U(screen.lines.back().gbkText), stamp + " " + report);
  EXPECT_EQ(screen.lines.back().colour, (Rgb{255, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(
    OperationLog, UnwrittenLines,
    ::testing::Values(
        // Room for a piece of a line only: no piece stays in the file.
        FailureCase{"DiskFull", [](UnwrittenLines& t) { t.full.emplace(t.Today().size() + 5); },
                    [](UnwrittenLines& t) { t.full.reset(); }, "08:05:09:042 before\r\n", "File too large"},
        // The three lines went into the open file after its folder had gone.
        FailureCase{"FolderGoneWhileOpen", RemoveFolder, MakeFolder, "", "日志文件已被移走或删除"},
        FailureCase{"FolderGone",
                    [](UnwrittenLines& t) {
                      RemoveFolder(t);
                      t.log.FlushBatch();
                    },
                    MakeFolder, "", "日志文件夹不存在"},
        FailureCase{"NoDescriptorAtTheDayChange",
                    [](UnwrittenLines& t) {
                      t.clock.Set(QDateTime(QDate(2024, 3, 6), QTime(0, 0, 1)));
                      t.none.emplace();
                    },
                    [](UnwrittenLines& t) { t.none.reset(); }, "", "Too many open files"}),
    [](const auto& info) { return std::string(info.param.name); });
