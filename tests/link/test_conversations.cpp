// One conversation per card: with several slots each card's answers drive only its own card's
// next command, and how one card's delivery ends leaves the other's untouched.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "card_messages.h"
#include "link/exchange.h"
#include "link/session.h"
#include "link_harness.h"

namespace aqled {
namespace {

using testing::FakeClock;
using testing::FakeConnection;
using testing::G;
using testing::StampedLog;

constexpr const char* kDisk = R"({"name":"queryDisk","input":{"storagemedia":"emmc"}})";
std::string Progress(const std::string& id) {
  return R"({"name":"querydownloadprogress","input":{"delay":"5","id":")" + id + R"("}})";
}

// What a card does in a step: it answers with a text, its connection closes, or the clock moves.
enum class Act { kAnswer, kClose, kAdvanceMs };
struct Step {
  char card;  // 'A' (slot 1) or 'B' (slot 2)
  Act act;
  std::string text;  // the answer (UTF-8)
  long long ms = 0;
};
Step Answer(char card, std::string text) { return {card, Act::kAnswer, std::move(text)}; }

struct ConversationCase {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> toA, toB;  // what each card was sent after its delivery's clean-up
  std::vector<std::pair<int, DeliveryOutcome>> ended;
};
void PrintTo(const ConversationCase& c, std::ostream* os) { *os << c.name; }

class Conversations : public ::testing::TestWithParam<ConversationCase> {
 protected:
  void SetUp() override {
    sessions.SetCards({}, 3);
    exchange.SetDeliveryEndHandler(
        [this](DeliveryOutcome outcome, int slot) { ended.emplace_back(slot, outcome); });
    for (const auto& [card, barcode] : {std::pair{a, "A"}, std::pair{b, "B"}}) {
      ASSERT_TRUE(exchange.HandleControllerPacket(ParseReceived(testing::LoginText(barcode)), card));
      sessions.SendLoginAnswer(*card);
    }
    ASSERT_EQ(sessions.SlotOf(*a), 1);
    ASSERT_EQ(sessions.SlotOf(*b), 2);
    // Each card's delivery, B's a minute after A's.
    for (int k : {1, 2}) {
      exchange.BeginDelivery(k);
      const std::string tag = k == 1 ? "A" : "B";
      exchange.StoreProgramCommands("download-" + tag, "play-" + tag, k);
      exchange.WatchDelivery(DeliveryRoute::kProgram, clock.Now(), k);
      clock.Advance(60000);
    }
    a->writes.clear();
    b->writes.clear();
  }

  FakeClock clock;
  StampedLog log{clock};
  SessionTable sessions{log, &clock};
  CommandExchange exchange{sessions, log};
  std::shared_ptr<FakeConnection> a = std::make_shared<FakeConnection>(11, "127.0.0.1");
  std::shared_ptr<FakeConnection> b = std::make_shared<FakeConnection>(12, "127.0.0.2");
  std::vector<std::pair<int, DeliveryOutcome>> ended;
};

TEST_P(Conversations, EachCardsAnswersDriveOnlyItsOwnCard) {
  const ConversationCase& c = GetParam();
  for (const Step& step : c.steps) {
    const auto& from = step.card == 'A' ? a : b;
    switch (step.act) {
      case Act::kAnswer:
        exchange.HandleControllerPacket(ParseReceived(G(step.text.c_str())), from);
        break;
      case Act::kClose:
        from->open = false;
        exchange.SlotClosed(sessions.HandleClose(*from));
        break;
      case Act::kAdvanceMs:
        clock.Advance(step.ms);
        exchange.CheckDeliveryDeadline(clock.Now());
        break;
    }
  }
  EXPECT_EQ(a->Payloads(), c.toA);
  EXPECT_EQ(b->Payloads(), c.toB);
  EXPECT_EQ(ended, c.ended);
  // The lines of each card's progress name that card.
  for (const auto& line : log.Texts()) {
    if (line.rfind("标签: ", 0) == 0) {
      EXPECT_TRUE(line.rfind("标签: A,", 0) == 0 || line.rfind("标签: B,", 0) == 0) << line;
    }
  }
}

const std::string kCleanUp = R"({"name":"clearuselessmaterial","output":{"result":"ok"}})";
const std::string kDiskAnswer = R"({"name":"queryDisk","output":{"free":"1000"}})";
std::string Downloading(const std::string& id) {
  return R"({"name":"downloadfilefromurl","output":{"id":")" + id + R"("}})";
}
std::string Status(const std::string& s) {
  return R"({"name":"querydownloadprogress","output":{"status":")" + s + R"("}})";
}
const std::string kPlayed = R"({"name":"play","output":{"result":"ok"}})";

INSTANTIATE_TEST_SUITE_P(
    TwoCards, Conversations,
    ::testing::Values(
        ConversationCase{
            "interleaved answers",
            {Answer('A', kCleanUp), Answer('B', kCleanUp), Answer('B', kDiskAnswer), Answer('A', kDiskAnswer),
             Answer('B', Downloading("7")), Answer('A', Downloading("3")), Answer('A', Status("complete")),
             Answer('B', Status("downloading")), Answer('A', kPlayed), Answer('B', Status("complete")),
             Answer('B', kPlayed)},
            {kDisk, "download-A", Progress("3"), "play-A"},
            {kDisk, "download-B", Progress("7"), Progress("7"), "play-B"},
            {{1, DeliveryOutcome::kSucceeded}, {2, DeliveryOutcome::kSucceeded}}},
        ConversationCase{
            "a failure the card reports",
            {Answer('A', kDiskAnswer), Answer('B', kDiskAnswer),
             Answer('B', R"({"name":"downloadfilefromurl","output":{"result":"fail","message":"disk"}})"),
             Answer('A', Downloading("3")), Answer('A', Status("complete")), Answer('A', kPlayed)},
            {"download-A", Progress("3"), "play-A"},
            {"download-B"},
            {{2, DeliveryOutcome::kFailed}, {1, DeliveryOutcome::kSucceeded}}},
        ConversationCase{
            "a failed download status",
            {Answer('A', kDiskAnswer), Answer('A', Downloading("3")), Answer('A', Status("error")),
             Answer('B', kDiskAnswer), Answer('B', Downloading("7")), Answer('B', Status("complete"))},
            {"download-A", Progress("3")},
            {"download-B", Progress("7"), "play-B"},
            {{1, DeliveryOutcome::kFailed}}},
        ConversationCase{"a closed connection",
                         {Answer('A', kDiskAnswer), {'A', Act::kClose, ""}, Answer('B', kDiskAnswer)},
                         {"download-A"},
                         {"download-B"},
                         {{1, DeliveryOutcome::kFailed}}},
        // A started a minute before B: its limit comes first, and only its delivery stalls.
        ConversationCase{"the stall limit of each card",
                         {{'A', Act::kAdvanceMs, "", kProgramDeliveryLimitMs - 150000},
                          Answer('B', kDiskAnswer),
                          {'A', Act::kAdvanceMs, "", 30000}},
                         {},
                         {"download-B"},
                         {{1, DeliveryOutcome::kStalled}}}));

// The heartbeats of each card use up that card's own reset flags.
TEST_F(Conversations, EachCardRunsItsOwnResetChain) {
  exchange.ArmCardReset();
  const std::string heartbeat = R"({"name":"heartbeat"})";
  exchange.HandleControllerPacket(ParseReceived(heartbeat), a);
  exchange.HandleControllerPacket(ParseReceived(heartbeat), a);
  exchange.HandleControllerPacket(ParseReceived(heartbeat), b);
  EXPECT_EQ(a->Payloads(), (std::vector<std::string>{kDisk, std::string(kStopPlayCommand)}));
  EXPECT_EQ(b->Payloads(), std::vector<std::string>{kDisk});
  EXPECT_FALSE(exchange.State(1).pendingStopPlay);
  EXPECT_TRUE(exchange.State(2).pendingStopPlay);
}

}  // namespace
}  // namespace aqled
