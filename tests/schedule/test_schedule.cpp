// The slot grid of the timed delivery and the decisions of DeliverySchedule at Timer1 ticks.
#include <gtest/gtest.h>

#include <QDateTime>
#include <string>
#include <vector>

#include "schedule/schedule.h"

namespace aqled {
namespace {

QDateTime At(int day, int hour, int minute, int second = 0) {
  return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second));
}

struct GridCase {
  QDateTime when;
  int dtk;
  QDateTime start;
  QDateTime next;
};
void PrintTo(const GridCase& c, std::ostream* os) {
  *os << c.when.toString("dd hh:mm:ss").toStdString() << " dtk " << c.dtk;
}

class SlotGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(SlotGrid, StartAndNextFollowTheGrid) {
  const GridCase& c = GetParam();
  EXPECT_EQ(SlotStart(c.when, c.dtk), c.start);
  EXPECT_EQ(NextSlotStart(c.when, c.dtk), c.next);
}

INSTANTIATE_TEST_SUITE_P(Schedule, SlotGrid,
                         ::testing::Values(GridCase{At(5, 0, 0), 0, At(5, 0, 0), At(5, 2, 0)},
                                           GridCase{At(5, 1, 59, 59), 0, At(5, 0, 0), At(5, 2, 0)},
                                           GridCase{At(5, 13, 30), 0, At(5, 12, 0), At(5, 14, 0)},
                                           GridCase{At(5, 14, 0), 0, At(5, 14, 0), At(5, 16, 0)},
                                           GridCase{At(5, 23, 59), 0, At(5, 22, 0), At(6, 0, 0)},
                                           GridCase{At(5, 2, 59), 1, At(5, 0, 0), At(5, 3, 0)},
                                           GridCase{At(5, 3, 0), 1, At(5, 3, 0), At(5, 6, 0)},
                                           GridCase{At(5, 20, 10), 1, At(5, 18, 0), At(5, 21, 0)},
                                           GridCase{At(5, 23, 0), 1, At(5, 21, 0), At(6, 0, 0)},
                                           // A combo box without a selection stands for the first choice.
                                           GridCase{At(5, 15, 5), -1, At(5, 14, 0), At(5, 16, 0)}));

// Runs ticks every ten minutes from `from` to before `to`; every attempt succeeds or fails as
// `succeeds` says, at once. Returns the times of the attempts.
std::vector<QDateTime> Ticks(DeliverySchedule& schedule, TickFacts facts, const QDateTime& from,
                             const QDateTime& to, bool (*succeeds)(const QDateTime&)) {
  std::vector<QDateTime> attempts;
  for (QDateTime t = from; t < to; t = t.addSecs(600)) {
    facts.now = t;
    if (schedule.OnTick(facts) != TickAction::kAttempt) continue;
    attempts.push_back(t);
    schedule.SendStarted(t);
    schedule.SendEnded(t, succeeds(t));
  }
  return attempts;
}

bool Always(const QDateTime&) { return true; }

struct DayCase {
  const char* name;
  int dtk;
  bool autoSend;
  std::vector<int> hours;  // of the attempts
};
void PrintTo(const DayCase& c, std::ostream* os) { *os << c.name; }

class ADay : public ::testing::TestWithParam<DayCase> {};

TEST_P(ADay, AttemptsAtTheFirstTickOfEverySlot) {
  const DayCase& c = GetParam();
  DeliverySchedule schedule;
  TickFacts facts;
  facts.dtk = c.dtk;
  facts.autoSend = c.autoSend;
  facts.cardLoggedIn = true;
  const std::vector<QDateTime> attempts = Ticks(schedule, facts, At(5, 0, 0, 3), At(6, 0, 0, 3), Always);
  std::vector<int> hours;
  for (const QDateTime& t : attempts) {
    EXPECT_EQ(t.time().minute(), 0) << "the first tick of the hour";
    hours.push_back(t.time().hour());
  }
  EXPECT_EQ(hours, c.hours);
}

INSTANTIATE_TEST_SUITE_P(
    Schedule, ADay,
    ::testing::Values(DayCase{"EveryTwoHours", 0, true, {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22}},
                      DayCase{"EveryThreeHours", 1, true, {0, 3, 6, 9, 12, 15, 18, 21}},
                      DayCase{"Off", 0, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Schedule, AFailedSlotIsTriedAtEveryTickUntilItSucceeds) {
  DeliverySchedule schedule;
  TickFacts facts;
  facts.cardLoggedIn = true;
  // Fails until 10:25, succeeds from 10:30 on.
  const auto attempts = Ticks(schedule, facts, At(5, 10, 0), At(5, 12, 0),
                              [](const QDateTime& t) { return t >= At(5, 10, 30); });
  EXPECT_EQ(attempts, (std::vector<QDateTime>{At(5, 10, 0), At(5, 10, 10), At(5, 10, 20), At(5, 10, 30)}));
}

TEST(Schedule, AFailingSlotGivesUpWhenTheNextBegins) {
  DeliverySchedule schedule;
  TickFacts facts;
  facts.cardLoggedIn = true;
  const auto attempts = Ticks(schedule, facts, At(5, 11, 40), At(5, 12, 30),
                              [](const QDateTime& t) { return t >= At(5, 12, 0); });
  // 11:40 and 11:50 for the 10:00 slot, then the 12:00 slot succeeds at its first tick.
  EXPECT_EQ(attempts, (std::vector<QDateTime>{At(5, 11, 40), At(5, 11, 50), At(5, 12, 0)}));
  EXPECT_TRUE(schedule.SlotDone(At(5, 12, 20), 0));
  EXPECT_FALSE(schedule.SlotDone(At(5, 11, 59), 0)) << "the 10:00 slot never succeeded";
}

TEST(Schedule, WithoutACardTheSlotSaysSoOnceAndAttemptsWhenOneLogsIn) {
  DeliverySchedule schedule;
  TickFacts facts;
  std::vector<TickAction> actions;
  for (int minute : {0, 10, 20}) {
    facts.now = At(5, 14, minute);
    actions.push_back(schedule.OnTick(facts));
  }
  facts.cardLoggedIn = true;
  facts.now = At(5, 14, 30);
  actions.push_back(schedule.OnTick(facts));
  EXPECT_EQ(actions, (std::vector<TickAction>{TickAction::kNoCardNotice, TickAction::kNone, TickAction::kNone,
                                              TickAction::kAttempt}));
  // The next slot says it again.
  facts.cardLoggedIn = false;
  facts.now = At(5, 16, 0);
  EXPECT_EQ(schedule.OnTick(facts), TickAction::kNoCardNotice);
}

TEST(Schedule, AManualSendCountsForTheSlotItFallsIn) {
  DeliverySchedule schedule;
  TickFacts facts;
  facts.cardLoggedIn = true;
  schedule.SendStarted(At(5, 14, 5));
  schedule.SendEnded(At(5, 14, 5), true);
  const auto attempts = Ticks(schedule, facts, At(5, 14, 8), At(5, 16, 20), Always);
  EXPECT_EQ(attempts, (std::vector<QDateTime>{At(5, 16, 8)}));
}

TEST(Schedule, AFailedManualSendLeavesTheSlotToTheTicks) {
  DeliverySchedule schedule;
  TickFacts facts;
  facts.cardLoggedIn = true;
  schedule.SendStarted(At(5, 14, 5));
  schedule.SendEnded(At(5, 14, 5), false);
  facts.now = At(5, 14, 8);
  EXPECT_EQ(schedule.OnTick(facts), TickAction::kAttempt);
}

struct BusyCase {
  const char* name;
  QDateTime runningSince;  // start of the send under way
  bool sendRunning;
  bool deliveryInFlight;
  TickAction action;  // at 14:10
};
void PrintTo(const BusyCase& c, std::ostream* os) { *os << c.name; }

class WhileBusy : public ::testing::TestWithParam<BusyCase> {};

TEST_P(WhileBusy, TheTickWaitsOrRefuses) {
  const BusyCase& c = GetParam();
  DeliverySchedule schedule;
  schedule.SendStarted(c.runningSince);
  TickFacts facts;
  facts.cardLoggedIn = true;
  facts.now = At(5, 14, 10);
  facts.sendRunning = c.sendRunning;
  facts.deliveryInFlight = c.deliveryInFlight;
  EXPECT_EQ(schedule.OnTick(facts), c.action);
}

INSTANTIATE_TEST_SUITE_P(
    Schedule, WhileBusy,
    ::testing::Values(
        BusyCase{"TheSlotsOwnSendFetches", At(5, 14, 1), true, false, TickAction::kNone},
        BusyCase{"TheSlotsOwnDeliveryIsAwaited", At(5, 14, 1), false, true, TickAction::kNone},
        BusyCase{"ASendOfTheSlotBeforeIsRefused", At(5, 13, 58), true, false, TickAction::kRefuse},
        BusyCase{"ADeliveryOfTheSlotBeforeIsWaitedFor", At(5, 13, 58), false, true, TickAction::kNone},
        BusyCase{"NothingRunsAnyMore", At(5, 13, 58), false, false, TickAction::kAttempt}),
    [](const auto& info) { return std::string(info.param.name); });

// A slot that had its delivery at 14:01; the tick comes at 14:10.
struct RefreshCase {
  const char* name;
  bool complete;  // the 14:01 delivery put readings on air (not only the notice page)
  bool refreshWanted;
  bool cardLoggedIn;
  bool deliveryInFlight;
  TickAction action;
};
void PrintTo(const RefreshCase& c, std::ostream* os) { *os << c.name; }

class AfterADelivery : public ::testing::TestWithParam<RefreshCase> {};

TEST_P(AfterADelivery, TheTickRefreshesOnlyWhatWantsIt) {
  const RefreshCase& c = GetParam();
  DeliverySchedule schedule;
  schedule.SendStarted(At(5, 14, 1));
  schedule.SendEnded(At(5, 14, 1), true, c.complete);
  TickFacts facts;
  facts.now = At(5, 14, 10);
  facts.cardLoggedIn = c.cardLoggedIn;
  facts.deliveryInFlight = c.deliveryInFlight;
  facts.refreshWanted = c.refreshWanted;
  EXPECT_EQ(schedule.OnTick(facts), c.action);
  EXPECT_EQ(schedule.SlotDone(facts.now, 0), c.complete);
}

INSTANTIATE_TEST_SUITE_P(
    Schedule, AfterADelivery,
    ::testing::Values(RefreshCase{"AllCurrent", true, false, true, false, TickAction::kNone},
                      RefreshCase{"SomethingToCheck", true, true, true, false, TickAction::kRefresh},
                      RefreshCase{"NoCardToTakeIt", true, true, false, false, TickAction::kNone},
                      RefreshCase{"ADeliveryIsAwaited", true, true, true, true, TickAction::kNone},
                      RefreshCase{"OnlyTheNoticeWentOut", false, false, true, false, TickAction::kAttempt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Schedule, AnOlderSuccessReportedLateDoesNotUndoANewerOne) {
  DeliverySchedule schedule;
  schedule.SendStarted(At(5, 14, 0));
  schedule.SendEnded(At(5, 14, 0), true);
  schedule.SendEnded(At(5, 11, 50), true);
  EXPECT_TRUE(schedule.SlotDone(At(5, 15, 0), 0));
}

// The clock was eight hours ahead when a send succeeded and is set right: the next slot's send
// completes its slot.
TEST(Schedule, ASuccessAfterTheClockWasSetBackCompletesItsSlot) {
  DeliverySchedule schedule;
  schedule.SendStarted(At(5, 15, 0));
  schedule.SendEnded(At(5, 15, 0), true);
  schedule.SendStarted(At(5, 7, 0));
  schedule.SendEnded(At(5, 7, 0), true);
  EXPECT_TRUE(schedule.SlotDone(At(5, 7, 10), 0));
}

TEST(Schedule, ChangingThePeriodRegroupsTheSuccessIntoTheNewGrid) {
  DeliverySchedule schedule;
  schedule.SendStarted(At(5, 14, 5));
  schedule.SendEnded(At(5, 14, 5), true);
  // With three hours the 14:05 send lies in the 12:00 slot, which is therefore done.
  EXPECT_TRUE(schedule.SlotDone(At(5, 14, 10), 1));
  EXPECT_FALSE(schedule.SlotDone(At(5, 15, 0), 1));
}

}  // namespace
}  // namespace aqled
