// The texts of the status line from what the window gathered.
#include <gtest/gtest.h>

#include "app/status_line.h"
#include "test_support.h"

using namespace aqled;
using aqled::testing::G;

namespace {

QDateTime At(int day, int hour, int minute, int second = 0) {
  return QDateTime(QDate(2024, 3, day), QTime(hour, minute, second));
}

// A snapshot at 2024-03-05 10:20:07 with nothing known yet.
StatusSnapshot Empty() {
  StatusSnapshot s;
  s.now = At(5, 10, 20, 7);
  s.slot = At(5, 10, 0);
  s.nextSlot = At(5, 12, 0);
  return s;
}

struct FieldCase {
  const char* name;
  StatusSnapshot snapshot;
  int field;
  const char* text;
};
void PrintTo(const FieldCase& c, std::ostream* os) { *os << c.name; }

StatusSnapshot With(void (*change)(StatusSnapshot&)) {
  StatusSnapshot s = Empty();
  change(s);
  return s;
}

class StatusFieldsTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(StatusFieldsTest, ReadsAsWritten) {
  const FieldCase& c = GetParam();
  EXPECT_EQ(StatusFields(c.snapshot)[static_cast<size_t>(c.field)].toStdString(), c.text);
}

// Several cards: the card field counts the connected ones of those known, the last send the
// cards that played.
StatusSnapshot Cards(int maxCards, std::vector<bool> connected) {
  StatusSnapshot s = Empty();
  s.maxCards = maxCards;
  for (size_t i = 0; i < connected.size(); ++i)
    s.cards.push_back({"C" + std::to_string(i + 1), "n", connected[i], At(5, 10, 20, 2)});
  return s;
}
StatusSnapshot CardsSent(SendState state, int played, int cards) {
  StatusSnapshot s = Cards(4, {true, true, true, false});
  s.lastSend = SendRecord{At(5, 10, 0, 30), true, state};
  s.lastSend->played = played;
  s.lastSend->cards = cards;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    SeveralCards, StatusFieldsTest,
    ::testing::Values(
        FieldCase{"NoneYet", Cards(4, {}), 0, "控制卡: 未登录"},
        FieldCase{"ThreeOfFour", Cards(4, {true, false, true, true}), 0, "控制卡 3/4 已连接"},
        FieldCase{"AllPlayed", CardsSent(SendState::kSucceeded, 3, 3), 1, "上次发送 10:00 自动 成功 3/3"},
        FieldCase{"SomePlayed", CardsSent(SendState::kFailed, 2, 3), 1, "上次发送 10:00 自动 成功 2/3"},
        FieldCase{"NonePlayed", CardsSent(SendState::kStalled, 0, 3), 1, "上次发送 10:00 自动 超时 0/3"},
        FieldCase{"StillAwaited", CardsSent(SendState::kDelivering, 1, 3), 1,
                  "上次发送 10:00 自动 等待应答"}));

TEST(SeveralCardsTip, EachCardIsInTheCardFieldsTip) {
  const StatusSnapshot s = Cards(3, {true, false});
  EXPECT_EQ(StatusTips(s)[0].toStdString(), "控制卡 1/2 已连接\nC1 (n) 已连接, 5秒前\nC2 (n) 已断开, 5秒前");
}

INSTANTIATE_TEST_SUITE_P(
    Status, StatusFieldsTest,
    ::testing::Values(FieldCase{"NoCardYet", Empty(), 0, "控制卡: 未登录"},
                      FieldCase{"ConnectedCard", With([](StatusSnapshot& s) {
                                  s.cardKnown = true;
                                  s.tag = "DEMO-1";
                                  s.name = G("大厅");
                                  s.connected = true;
                                  s.lastMessage = At(5, 10, 19, 55);
                                }),
                                0, "控制卡 DEMO-1 (大厅) 已连接, 12秒前"},
                      FieldCase{"GoneCardKeepsItsLastMessage", With([](StatusSnapshot& s) {
                                  s.cardKnown = true;
                                  s.tag = "DEMO-1";
                                  s.name = "lobby";
                                  s.lastMessage = At(5, 9, 20, 7);
                                }),
                                0, "控制卡 DEMO-1 (lobby) 已断开, 3600秒前"},
                      FieldCase{"CardWithoutAMessage", With([](StatusSnapshot& s) {
                                  s.cardKnown = true;
                                  s.tag = "T";
                                  s.name = "n";
                                  s.connected = true;
                                }),
                                0, "控制卡 T (n) 已连接"},
                      FieldCase{"AClockGoneBackCountsNoNegativeSeconds", With([](StatusSnapshot& s) {
                                  s.cardKnown = true;
                                  s.tag = "T";
                                  s.name = "n";
                                  s.connected = true;
                                  s.lastMessage = At(5, 10, 25, 0);
                                }),
                                0, "控制卡 T (n) 已连接, 0秒前"},
                      FieldCase{"NoSendYet", Empty(), 1, "上次发送: 无"},
                      FieldCase{"TimedSendDelivering", With([](StatusSnapshot& s) {
                                  s.lastSend = SendRecord{At(5, 10, 0, 30), true, SendState::kDelivering};
                                }),
                                1, "上次发送 10:00 自动 等待应答"},
                      FieldCase{"ManualSendYesterdayStalled", With([](StatusSnapshot& s) {
                                  s.lastSend = SendRecord{At(4, 23, 5), false, SendState::kStalled};
                                }),
                                1, "上次发送 03-04 23:05 手动 超时"},
                      FieldCase{"Running", With([](StatusSnapshot& s) {
                                  s.lastSend = SendRecord{At(5, 10, 20), false, SendState::kRunning};
                                }),
                                1, "上次发送 10:20 手动 进行中"},
                      FieldCase{"Succeeded", With([](StatusSnapshot& s) {
                                  s.lastSend = SendRecord{At(5, 8, 0), true, SendState::kSucceeded};
                                }),
                                1, "上次发送 08:00 自动 成功"},
                      FieldCase{"Failed", With([](StatusSnapshot& s) {
                                  s.lastSend = SendRecord{At(5, 8, 10), true, SendState::kFailed};
                                }),
                                1, "上次发送 08:10 自动 失败"},
                      FieldCase{"SlotDue", With([](StatusSnapshot& s) { s.slotDue = true; }), 2,
                                "10:00 时段待发送"},
                      FieldCase{"SlotDone", Empty(), 2, "下次定时 12:00"},
                      FieldCase{"NextSlotTomorrow", With([](StatusSnapshot& s) { s.nextSlot = At(6, 0, 0); }),
                                2, "下次定时 03-06 00:00"},
                      FieldCase{"Off", With([](StatusSnapshot& s) {
                                  s.autoSend = false;
                                  s.slotDue = true;
                                }),
                                2, "定时发送关闭"},
                      FieldCase{"NoFetchYet", Empty(), 3, "上次获取: 无"},
                      FieldCase{"AFetchWithAFailedStation", With([](StatusSnapshot& s) {
                                  s.lastFetch = FetchRecord{At(5, 10, 0, 31), 3};
                                }),
                                3, "上次获取 10:00 3/4, 1 失败"},
                      FieldCase{"AFetchOfAllFour", With([](StatusSnapshot& s) {
                                  s.lastFetch = FetchRecord{At(5, 10, 0, 31), 4};
                                }),
                                3, "上次获取 10:00 4/4"},
                      FieldCase{"TheCardIsAwaitedInsteadOfTheSlot", With([](StatusSnapshot& s) {
                                  s.slotDue = true;
                                  s.awaitingCard = true;
                                }),
                                2, "等待应答"},
                      FieldCase{"OnlyTheNoticeWentOut", With([](StatusSnapshot& s) {
                                  s.lastSend = SendRecord{At(5, 8, 0), true, SendState::kSucceeded, true};
                                }),
                                1, "上次发送 08:00 自动 成功 (提示页)"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TipCase {
  const char* name;
  SendState state;
  bool autoSend;
  const char* tip;
};
void PrintTo(const TipCase& c, std::ostream* os) { *os << c.name; }

class StatusTipsTest : public ::testing::TestWithParam<TipCase> {};

TEST_P(StatusTipsTest, AFailureNamesItsReasonAndTheNextTry) {
  const TipCase& c = GetParam();
  StatusSnapshot s = Empty();
  s.autoSend = c.autoSend;
  s.lastSend =
      SendRecord{At(5, 10, 0, 30), true, c.state, false, G("标签: T, 名称: n, 发送中连接断开, 发送失败.")};
  s.nextTick = At(5, 10, 30, 30);
  EXPECT_EQ(StatusTips(s)[1].toStdString(), c.tip);
  EXPECT_EQ(StatusTips(s)[0], StatusFields(s)[0]) << "the other fields' tips are their whole text";
}

INSTANTIATE_TEST_SUITE_P(
    Status, StatusTipsTest,
    ::testing::Values(
        TipCase{
            "Failed", SendState::kFailed, true,
            "上次发送 10:00 自动 失败\n原因: 标签: T, 名称: n, 发送中连接断开, 发送失败.\n下次尝试 10:30"},
        TipCase{"StalledWithoutTimedDelivery", SendState::kStalled, false,
                "上次发送 10:00 自动 超时\n原因: 标签: T, 名称: n, 发送中连接断开, 发送失败."},
        TipCase{"SucceededNeedsNoReason", SendState::kSucceeded, true, "上次发送 10:00 自动 成功"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
