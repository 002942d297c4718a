// The send road without a window: what it records of a send that fails or stalls, what the
// schedule makes of that, and the refusal of a send while one runs. The station addresses are
// empty, so every fetch fails at once without the network.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <utility>

#include "card_messages.h"
#include "link/controller_link.h"
#include "link/exchange.h"
#include "link/frame.h"
#include "link_harness.h"
#include "send/send_road.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::FakeClock;
using testing::FakeConnection;
using testing::RecordingLog;
using testing::U;

// The window's part: error lines reach the road, the rest is recorded.
struct Listener : SendListener, RecordingLog {
  void AppendLog(int kind, const std::string& text) override {
    RecordingLog::AppendLog(kind, text);
    if (kind == kLogError && road) road->NoteError(text);
  }
  void SendStatusChanged() override {}
  void SendBegins() override {
    if (whileRunning) std::exchange(whileRunning, nullptr)();
  }
  void ShowStatusMessage(const std::string& text) override { statusMessages.push_back(U(text)); }
  void ReportError(const std::string& text) override { errors.push_back(U(text)); }
  bool Confirm(const std::string&, const std::string&) override {
    ++confirms;
    return true;
  }
  void ShowStationPreview(int, const QImage&) override {
    if (onPreview) onPreview();
  }

  SendRoad* road = nullptr;
  std::function<void()> whileRunning;  // runs once, as the next send begins its fetch
  std::function<void()> onPreview;     // at every station preview
  std::vector<std::string> statusMessages, errors;
  int confirms = 0;
};

class SendRoadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    std::filesystem::create_directory(std::filesystem::path(folder()) / "file");
    settings.FileBaseDir = folder() + "share/";
    settings.HttpBaseDir = "http://127.0.0.1:8116/share/";
    listener.road = &road;
    controls.dtw = 96;
    controls.dth = 48;
  }
  std::string folder() const { return tmp.path().toStdString() + "/"; }
  // A card of 128 x 64 logs in to slot 1.
  void CardLogsIn() {
    link.Sessions().HandleLogin(nlohmann::json::parse(R"({"barcode":"SIM1","controllername":"north",)"
                                                      R"("width":"128","height":"64"})"),
                                card);
    link.Sessions().SendLoginAnswer(*card);
  }

  QTemporaryDir tmp;
  FakeClock clock{QDateTime(QDate(2024, 3, 5), QTime(8, 5))};
  Listener listener;
  ProgramSettings settings;
  ControllerLink link{listener, clock};
  SendRoad road{link, clock, listener, listener, settings, folder()};
  std::shared_ptr<FakeConnection> card = std::make_shared<FakeConnection>(21, "127.0.0.1");
  SendControls controls;
};

TEST_F(SendRoadTest, ASendRecordsHowItEndedAndWhy) {
  struct Case {
    const char* name;
    bool card;
    int dtw;
    SendState state;
    bool notice;
    const char* reason;  // UTF-8, the start of it
  };
  const Case cases[] = {
      {"no area, no card", false, 0, SendState::kFailed, false, "显示区域的宽度或高度为0, 又没有"},
      {"no card", false, 96, SendState::kFailed, true, "没有已登录的控制卡, 节目未发送."},
      {"a card", true, 0, SendState::kDelivering, false, "没有可以显示的数据, 发送提示页"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.card) CardLogsIn();
    controls.dtw = c.dtw;
    road.ManualSend(controls);
    ASSERT_TRUE(road.LastSend());
    EXPECT_EQ(road.LastSend()->state, c.state);
    EXPECT_FALSE(road.LastSend()->automatic);
    EXPECT_EQ(road.LastSend()->notice, c.notice);
    EXPECT_EQ(U(road.LastSend()->reason).rfind(c.reason, 0), 0u) << U(road.LastSend()->reason);
    ASSERT_TRUE(road.LastFetch());
    EXPECT_EQ(road.LastFetch()->fetched, 0);
    EXPECT_EQ(road.AwaitingCard(), c.state == SendState::kDelivering);
    EXPECT_FALSE(road.Sending());
    EXPECT_FALSE(road.Schedule().SlotDone(clock.Now(), controls.dtk));
    EXPECT_FALSE(road.OnAir());
  }
  // The notice of the last send went out at the card's own size: nothing of the readings came.
  EXPECT_NE(road.PictureList().find("notice.bmp"), std::string::npos);
  EXPECT_EQ(listener.errors.size(), 0u) << "no error ends a send in a box";
}

TEST_F(SendRoadTest, AStalledDeliveryLeavesTheSlotDueAndTheNextTickSendsAgain) {
  CardLogsIn();
  road.ManualSend(controls);
  ASSERT_TRUE(road.AwaitingCard());
  clock.Advance(kProgramDeliveryLimitMs);
  link.CheckDeliveryDeadline();
  const std::string stalled = "标签: SIM1, 名称: north, 10 分钟内未完成节目发送, 发送失败.";
  ASSERT_TRUE(road.LastSend());
  EXPECT_EQ(road.LastSend()->state, SendState::kStalled);
  EXPECT_EQ(U(road.LastSend()->reason), stalled) << "the line written while the card was awaited";
  EXPECT_FALSE(road.AwaitingCard());
  EXPECT_FALSE(road.Schedule().SlotDone(clock.Now(), controls.dtk));

  road.OnTick(controls);
  EXPECT_EQ(listener.Count(stalled), 1);
  EXPECT_EQ(listener.Count("定时发送: 08:00 时段"), 1) << "the stall left the slot due";
  ASSERT_TRUE(road.LastSend());
  EXPECT_TRUE(road.LastSend()->automatic);
  EXPECT_EQ(road.LastSend()->state, SendState::kDelivering);
  EXPECT_EQ(road.LastSend()->started, clock.Now());
  EXPECT_FALSE(road.OnAir());
}

TEST_F(SendRoadTest, ASecondSendWhileOneRunsIsRefused) {
  const std::string refused = "上一次发送尚未结束, 本次发送未执行.";
  struct Case {
    const char* name;
    std::function<void()> second;
    int refusals;
  };
  const Case cases[] = {
      {"a click", [&] { road.ManualSend(controls); }, 1},
      {"a tick of the next slot",
       [&] {
         clock.Advance(2 * 3600 * 1000);
         road.OnTick(controls);
       },
       1},
      // The slot's own send is running: the tick waits for it without a word.
      {"a tick of the same slot", [&] { road.OnTick(controls); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    listener.lines.clear();
    listener.statusMessages.clear();
    listener.confirms = 0;
    bool running = false;
    listener.whileRunning = [&] {
      running = road.Sending() && road.Busy();
      c.second();
    };
    road.ManualSend(controls);
    EXPECT_TRUE(running);
    EXPECT_EQ(listener.Count(refused), c.refusals);
    EXPECT_EQ(listener.statusMessages, std::vector<std::string>(static_cast<size_t>(c.refusals), refused));
    EXPECT_EQ(listener.confirms, 1) << "the refused click asks nothing";
    EXPECT_EQ(listener.CountPrefix("定时发送: "), 0);
    ASSERT_TRUE(road.LastSend());
    EXPECT_FALSE(road.LastSend()->automatic) << "the record is the running send's";
  }
}

// Three cards on loopback, each its own conversation: a send goes to every connected card, its
// outcome counts the cards that played, and the next tick of the slot goes only to the cards
// that did not. (A card that logs in late is the end-to-end tests'.)
class CardsTest : public SendRoadTest {
 protected:
  void SetUp() override {
    SendRoadTest::SetUp();
    settings.sendkind = 2;  // one command a card, answered at once
    link.SetCards({}, 3);
    ASSERT_TRUE(link.Listen(0, QHostAddress::LocalHost));
  }
  // Card n ("C1", "C2", ...) with a screen of `width` x `height` logs in and has had its Login
  // answer.
  testing::Card& LogIn(int n, int width = 96, int height = 48) {
    cards.push_back(std::make_unique<testing::Card>(link.ServerPort()));
    testing::Card& c = *cards.back();
    c.Write(testing::HandFrame(testing::LoginText("C" + std::to_string(n), "n",
                                                  "\"" + std::to_string(width) + "\"",
                                                  "\"" + std::to_string(height) + "\"")));
    EXPECT_TRUE(testing::WaitFor([&] { return c.frames.size() == 1; }));
    return c;
  }
  // The dynamic-area commands card n has been sent.
  size_t Commands(int n) const {
    size_t count = 0;
    for (const std::string& p : cards[static_cast<size_t>(n - 1)]->Payloads())
      count += p.find("UpdateDynamic") != std::string::npos;
    return count;
  }
  void Answer(int n, const char* result) {
    cards[static_cast<size_t>(n - 1)]->Write(
        testing::HandFrame(std::string(R"({"name":"UpdateDynamic","output":{"result":")") + result + "\"}}"));
  }
  std::vector<std::unique_ptr<testing::Card>> cards;
};

TEST_F(CardsTest, ASendCountsTheCardsThatPlayedAndTheNextTickServesTheOthers) {
  struct Case {
    const char* name;
    std::vector<const char*> answers;  // of cards 1..3; nullptr: none, the card stalls
    SendState state;
    int played;
    std::vector<size_t> afterTick;  // commands each card has had after the next tick
  };
  const Case cases[] = {
      {"all play", {"ok", "ok", "ok"}, SendState::kSucceeded, 3, {1, 1, 1}},
      {"one fails", {"ok", "fail", "ok"}, SendState::kFailed, 2, {1, 2, 1}},
      {"one stalls", {"ok", "ok", nullptr}, SendState::kStalled, 2, {1, 1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cards.clear();
    ASSERT_TRUE(testing::WaitFor([&] { return link.ConnectedSlots().empty(); }));
    clock.Advance(3 * 3600 * 1000);  // a slot of its own
    for (int n = 1; n <= 3; ++n) LogIn(n);
    // What each screen showed before: a card that does not play keeps it.
    std::vector<QDateTime> shown;
    for (int n = 1; n <= 3; ++n) {
      const CardOnAir* played = road.PlayedBy(link.Slot(n).barcode);
      shown.push_back(played ? played->sendStarted : QDateTime());
    }
    road.ManualSend(controls);
    ASSERT_TRUE(testing::WaitFor([&] { return Commands(1) == 1 && Commands(2) == 1 && Commands(3) == 1; }));
    for (int n = 1; n <= 3; ++n) {
      if (c.answers[static_cast<size_t>(n - 1)]) Answer(n, c.answers[static_cast<size_t>(n - 1)]);
    }
    ASSERT_TRUE(testing::WaitFor([&] {
      for (int n = 1; n <= 3; ++n)
        if (c.answers[static_cast<size_t>(n - 1)] && link.DeliveryInFlight(n)) return false;
      return true;
    }));
    EXPECT_EQ(road.LastSend()->played, c.played);
    // A card that never answers stalls at its limit.
    if (road.AwaitingCard()) {
      clock.Advance(kDynamicDeliveryLimitMs);
      link.CheckDeliveryDeadline();
    }
    ASSERT_FALSE(road.AwaitingCard());
    EXPECT_EQ(road.LastSend()->state, c.state);
    EXPECT_EQ(road.LastSend()->cards, 3);
    for (int n = 1; n <= 3; ++n) {
      const char* answer = c.answers[static_cast<size_t>(n - 1)];
      const CardOnAir* played = road.PlayedBy(link.Slot(n).barcode);
      EXPECT_EQ(played ? played->sendStarted : QDateTime(), answer && std::string(answer) == "ok"
                                                                ? road.LastSend()->started
                                                                : shown[static_cast<size_t>(n - 1)])
          << n;
    }
    road.OnTick(controls);
    ASSERT_TRUE(testing::WaitFor([&] {
      return Commands(1) == c.afterTick[0] && Commands(2) == c.afterTick[1] && Commands(3) == c.afterTick[2];
    })) << Commands(1)
        << Commands(2) << Commands(3);
    // The tick's send, when there was one, went to the one card left.
    EXPECT_EQ(road.LastSend()->cards, c.state == SendState::kSucceeded ? 3 : 1);
  }
}

// Cards of two sizes, and the second size's pages cannot be written: the first size's card has
// its delivery already, and what it plays is known before the send ends as failed.
TEST_F(CardsTest, ASizeThatFailsToDrawLeavesWhatTheOtherSizesCardPlaysKnown) {
  controls.dtw = controls.dth = 0;  // each card's own screen
  LogIn(1, 96, 48);
  LogIn(2, 128, 64);
  // Once the first size's pages are drawn, the second page's name becomes a folder.
  const std::filesystem::path page = std::filesystem::path(folder()) / "file" / "2.bmp";
  int previews = 0;
  listener.onPreview = [&] {
    if (++previews != kStationCount) return;
    std::filesystem::remove(page);
    std::filesystem::create_directory(page);
  };
  road.ManualSend(controls);
  ASSERT_EQ(listener.errors.size(), 1u);
  ASSERT_TRUE(testing::WaitFor([&] { return Commands(1) == 1; }));
  EXPECT_EQ(Commands(2), 0u);
  EXPECT_TRUE(road.AwaitingCard());
  Answer(1, "ok");
  ASSERT_TRUE(testing::WaitFor([&] { return !road.AwaitingCard(); }));
  EXPECT_EQ(road.LastSend()->state, SendState::kFailed);
  EXPECT_EQ(road.LastSend()->played, 1);
  const CardOnAir* played = road.PlayedBy(link.Slot(1).barcode);
  ASSERT_NE(played, nullptr);
  EXPECT_EQ(played->sendStarted, road.LastSend()->started);
}

}  // namespace
}  // namespace aqled
