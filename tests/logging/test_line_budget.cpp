// The budget of alike lines: what a window writes, what it counts, when its summary comes.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "logging/line_budget.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::FakeClock;
using testing::RecordingLog;

constexpr int kWindowMs = 1000;

std::string Counted(long long n) { return "counted " + std::to_string(n); }

TEST(LineBudget, WritesTheFirstLinesOfAWindowAndSummarisesTheRest) {
  FakeClock clock;
  RecordingLog log;
  LineBudget budget(log, clock, 3, Counted, kWindowMs);
  std::vector<bool> taken;
  for (int i = 0; i < 5; ++i) taken.push_back(budget.Take());
  EXPECT_EQ(taken, (std::vector<bool>{true, true, true, false, false}));
  clock.Advance(kWindowMs - 1);
  budget.Flush();
  EXPECT_TRUE(log.lines.empty()) << "the window has not ended";
  clock.Advance(1);
  budget.Flush();
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].kind, kLogError);
  EXPECT_EQ(log.lines[0].text, "counted 2");
  budget.Flush();
  EXPECT_EQ(log.lines.size(), 1u) << "a summary is written once";
  // A new window: the next line is written, and a window without excess ends silently.
  EXPECT_TRUE(budget.Take());
  clock.Advance(kWindowMs);
  EXPECT_TRUE(budget.Take());
  EXPECT_EQ(log.lines.size(), 1u);
  // Closing writes what an open window has counted without waiting for its end, once.
  for (int i = 0; i < 4; ++i) budget.Take();
  budget.Close();
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[1].text, "counted 2");
  budget.Close();
  budget.Flush();
  EXPECT_EQ(log.lines.size(), 2u);
}

// One step of a budget's life, and what Take answered for the steps that take.
struct Step {
  enum Op { kTake, kAdvance, kFlush, kClose } op;
  long long arg = 1;  // kTake: what the line stands for; kAdvance: milliseconds
};

struct PaceCase {
  const char* name;
  LineBudget::Pace pace;
  std::vector<Step> steps;
  std::vector<bool> taken;
  std::vector<std::string> lines;
};

class LineBudgetPaces : public ::testing::TestWithParam<PaceCase> {};

TEST_P(LineBudgetPaces, WriteCountAndSummariseAsTheirPaceSays) {
  const PaceCase& c = GetParam();
  FakeClock clock;
  RecordingLog log;
  LineBudget budget(log, clock, 1, Counted, kWindowMs, c.pace);
  std::vector<bool> taken;
  for (const Step& step : c.steps) {
    switch (step.op) {
      case Step::kTake:
        taken.push_back(budget.Take(1, step.arg));
        break;
      case Step::kAdvance:
        clock.Advance(step.arg);
        break;
      case Step::kFlush:
        budget.Flush();
        break;
      case Step::kClose:
        budget.Close();
        break;
    }
  }
  EXPECT_EQ(taken, c.taken);
  EXPECT_EQ(log.Texts(), c.lines);
}

constexpr Step Take(long long count = 1) { return {Step::kTake, count}; }
constexpr Step Wait(long long ms = kWindowMs) { return {Step::kAdvance, ms}; }
constexpr Step kFlushStep{Step::kFlush};
constexpr Step kCloseStep{Step::kClose};

INSTANTIATE_TEST_SUITE_P(
    LineBudget, LineBudgetPaces,
    ::testing::Values(
        // A line that stands for several events counts them all.
        PaceCase{"CountsWhatALineStandsFor",
                 LineBudget::Pace::kWindows,
                 {Take(3), Take(2), Take(4), Wait(), kFlushStep},
                 {true, false, false},
                 {"counted 6"}},
        // A free summary: the next line, however soon, opens a fresh window and is written.
        PaceCase{"WindowsWriteTheLineAfterASummary",
                 LineBudget::Pace::kWindows,
                 {Take(), Take(), Wait(), kFlushStep, Take()},
                 {true, false, true},
                 {"counted 1"}},
        // A spaced summary takes the window it opens: what follows within it waits for the next.
        PaceCase{"SpacedCountTheLineAfterASummary",
                 LineBudget::Pace::kSpaced,
                 {Take(), Take(), Wait(), kFlushStep, Wait(kWindowMs - 1), Take(2), kFlushStep, Wait(1),
                  kFlushStep},
                 {true, false, false},
                 {"counted 1", "counted 2"}},
        // A window that counted nothing ends silently and leaves none open behind it.
        PaceCase{"SpacedQuietWindowEndsTheSpacing",
                 LineBudget::Pace::kSpaced,
                 {Take(), Take(), Wait(), kFlushStep, Wait(), kFlushStep, Take()},
                 {true, false, true},
                 {"counted 1"}},
        // Closing writes at once, once; a spaced close keeps the next line for the next window.
        PaceCase{"SpacedCloseWritesAndKeepsTheSpacing",
                 LineBudget::Pace::kSpaced,
                 {Take(), Take(), kCloseStep, Take(), kCloseStep, kCloseStep},
                 {true, false, false},
                 {"counted 1", "counted 1"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineBudget, TellsHowLongTheOpenWindowLasts) {
  FakeClock clock;
  RecordingLog log;
  LineBudget budget(log, clock, 1, Counted, kWindowMs);
  EXPECT_EQ(budget.MillisLeft(), std::nullopt);
  budget.Take();
  clock.Advance(400);
  EXPECT_EQ(budget.MillisLeft(), kWindowMs - 400);
  clock.Advance(kWindowMs);
  EXPECT_EQ(budget.MillisLeft(), 0) << "an ended window is due at once";
  clock.Advance(-3 * kWindowMs);
  EXPECT_EQ(budget.MillisLeft(), 0) << "a clock set back ends the window";
  budget.Flush();
  EXPECT_EQ(budget.MillisLeft(), std::nullopt);
}

}  // namespace
}  // namespace aqled
