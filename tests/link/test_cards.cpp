// Which cards the session table takes: the list of barcodes that may log in, the number of
// slots, and the lines of refused logins within the log's budget for connections without a slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "card_messages.h"
#include "link/exchange.h"
#include "link/limits.h"
#include "link/log_limit.h"
#include "link/session.h"
#include "link_harness.h"

namespace aqled {
namespace {

using testing::FakeClock;
using testing::FakeConnection;
using testing::G;
using testing::kLoginAnswerText;
using testing::LoginText;
using testing::RecordingLog;
using testing::StampedLog;
using testing::U;

// The lines of one login (UTF-8): an answered one writes three, a refused one a single kind-1 line.
std::vector<std::string> Answered(const std::string& barcode, const std::string& link, int slot) {
  return {"[标签:" + barcode + "] [" + link + "] [序列:" + std::to_string(slot) + "]",
          "标签: " + barcode + ", 名称: N, 回复登录...", std::string("发送:") + kLoginAnswerText};
}
std::vector<std::string> New(const std::string& barcode, int slot) {
  return Answered(barcode, "新建链接", slot);
}
std::vector<std::string> Match(const std::string& barcode, int slot) {
  return Answered(barcode, "匹配链接", slot);
}
std::vector<std::string> Full(const std::string& b) {
  return {"[标签:" + b + "] [拒绝链接] 会话表已满, 不回复登录"};
}
std::vector<std::string> Unlisted(const std::string& b) {
  return {"[标签:" + b + "] [拒绝链接] 不在控制卡名单中, 不回复登录"};
}
std::vector<std::string> Taken(const std::string& b, const std::string& holder) {
  return {"[标签:" + b + "] [拒绝链接] 此连接已登录为 " + holder + ", 不回复登录"};
}

struct LoginStep {
  std::string barcode;
  std::vector<std::string> lines;
  bool sameConnection = false;  // on the previous step's connection; else on one of its own
};

struct CardsCase {
  const char* name;
  std::vector<std::string> cards;
  int maxCards;
  std::vector<LoginStep> steps;
  std::vector<std::string> barcodes;  // of slots 1..maxCards afterwards; the non-empty ones are assigned
};

void PrintTo(const CardsCase& c, std::ostream* os) { *os << c.name; }

class CardLogins : public ::testing::TestWithParam<CardsCase> {};

TEST_P(CardLogins, TakeTheirSlotsAndAnswers) {
  const CardsCase& c = GetParam();
  FakeClock clock;
  StampedLog log{clock};
  SessionTable sessions{log, &clock};
  CommandExchange exchange{sessions, log};
  std::vector<std::string> cards;
  for (const std::string& card : c.cards) cards.push_back(G(card.c_str()));
  sessions.SetCards(cards, c.maxCards);
  std::shared_ptr<FakeConnection> from;
  for (const LoginStep& step : c.steps) {
    if (!step.sameConnection)
      from = std::make_shared<FakeConnection>(static_cast<int>(log.lines.size()) + 10, "127.0.0.1");
    const std::size_t mark = log.lines.size();
    const std::size_t sent = from->Payloads().size();
    if (exchange.HandleControllerPacket(ParseReceived(G(LoginText(step.barcode).c_str())), from)) {
      clock.Advance(kLoginAnswerWaitMs);
      sessions.SendLoginAnswer(*from);
    }
    const std::vector<std::string> all = log.Texts();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<long>(mark), all.end()), step.lines)
        << step.barcode;
    const bool answered = step.lines.size() == 3;
    EXPECT_EQ(from->Payloads().size() - sent, answered ? 1u : 0u) << step.barcode;
    if (mark < log.lines.size()) {
      EXPECT_EQ(log.lines[mark].kind, answered ? kLogSent : kLogError) << step.barcode;
    }
  }
  std::vector<std::string> barcodes;
  for (int k = 1; k <= c.maxCards; ++k) barcodes.push_back(U(sessions.Slot(k).barcode));
  EXPECT_EQ(barcodes, c.barcodes);
  EXPECT_EQ(sessions.slotCount(),
            std::count_if(barcodes.begin(), barcodes.end(), [](auto& b) { return !b.empty(); }));
}

INSTANTIATE_TEST_SUITE_P(
    Cards, CardLogins,
    ::testing::Values(
        CardsCase{"AnyCardOneSlot", {}, 1, {{"X", New("X", 1)}, {"Y", Full("Y")}}, {"X"}},
        CardsCase{"AnyCardThreeSlots",
                  {},
                  3,
                  {{"X", New("X", 1)}, {"Y", New("Y", 2)}, {"Z", New("Z", 3)}, {"W", Full("W")}},
                  {"X", "Y", "Z"}},
        // A card that logs in again keeps its slot; the next new card still gets the next free one.
        CardsCase{"SameBarcodeKeepsItsSlot",
                  {},
                  3,
                  {{"X", New("X", 1)}, {"Y", New("Y", 2)}, {"X", Match("X", 1)}, {"Z", New("Z", 3)}},
                  {"X", "Y", "Z"}},
        CardsCase{"UnlistedFirstThenListed", {"A"}, 1, {{"F", Unlisted("F")}, {"A", New("A", 1)}}, {"A"}},
        // Without a list an empty barcode matches the empty slot; with one it is refused.
        CardsCase{"EmptyBarcodeIsNotListed", {"A"}, 1, {{"", Unlisted("")}, {"A", New("A", 1)}}, {"A"}},
        CardsCase{"ListedCardsInTheOrderTheyCome",
                  {"A", "B", "中"},
                  3,
                  {{"F", Unlisted("F")}, {"B", New("B", 1)}, {"中", New("中", 2)}, {"a", Unlisted("a")}},
                  {"B", "中", ""}},
        // More listed cards than slots: the table fills as it would without a list.
        CardsCase{"ListedCardsBeyondTheSlots", {"A", "B"}, 1, {{"A", New("A", 1)}, {"B", Full("B")}}, {"A"}},
        // A connection is one card: another barcode on it takes no second slot, its own again
        // keeps its slot, and one taken with an empty barcode goes to the card's own.
        CardsCase{"OneConnectionOneSlot",
                  {},
                  3,
                  {{"X", New("X", 1)},
                   {"Y", Taken("Y", "X"), true},
                   {"X", Match("X", 1), true},
                   {"Z", New("Z", 2)}},
                  {"X", "Z", ""}},
        CardsCase{"EmptyBarcodeThenItsOwn", {}, 1, {{"", Match("", 1)}, {"A", New("A", 1), true}}, {"A"}}),
    [](const auto& info) { return std::string(info.param.name); });

// A refused login's line comes once per barcode and connection, at most
// kMaxRefusedBarcodesPerConnection of them, and within the budget of the connections without a slot.
TEST(RefusedLogins, AreLoggedOncePerBarcodeAndConnectionWithinTheirBudget) {
  FakeClock clock;
  RecordingLog log;
  SessionTable* table = nullptr;
  PeerLog peerLog{log, clock, [&table](const CardConnection& c) { return table->SlotOf(c) > 0; }};
  SessionTable sessions{peerLog, &clock};
  table = &sessions;
  CommandExchange exchange{sessions, peerLog};
  sessions.SetCards({"A"}, 1);
  const auto feed = [&](const std::string& barcode, const std::shared_ptr<FakeConnection>& from) {
    PeerLog::Scope scope(peerLog, *from);
    return exchange.HandleControllerPacket(ParseReceived(LoginText(barcode)), from);
  };
  auto c1 = std::make_shared<FakeConnection>(21, "127.0.0.1");
  for (const char* barcode : {"F", "F", "G"}) feed(barcode, c1);
  feed("F", std::make_shared<FakeConnection>(22, "127.0.0.1"));
  EXPECT_EQ(log.lines.size(), 3u) << "F and G on the first connection, F on the second";
  for (std::size_t i = 0; i < kMaxRefusedBarcodesPerConnection; ++i) feed("H" + std::to_string(i), c1);
  EXPECT_EQ(log.lines.size(), 1 + kMaxRefusedBarcodesPerConnection);
  c1->open = false;
  sessions.HandleClose(*c1);
  feed("F", c1);
  EXPECT_EQ(log.lines.size(), 2 + kMaxRefusedBarcodesPerConnection) << "a closed connection is forgotten";

  // Long barcodes from many connections: more than a window's budget.
  const std::string longCode(kMaxIdentityLength - 3, 'x');
  long long tried = 0;
  for (int i = 0; i < 40; ++i) {
    const auto from = std::make_shared<FakeConnection>(100 + i, "127.0.0.1");
    for (std::size_t b = 0; b < kMaxRefusedBarcodesPerConnection; ++b, ++tried)
      feed(longCode + std::to_string(b), from);
  }
  const auto written = static_cast<long long>(log.lines.size()) - 2 - kMaxRefusedBarcodesPerConnection;
  ASSERT_LT(written, tried);
  // The listed card still gets its slot; the rest is summarised when the window ends.
  const auto card = std::make_shared<FakeConnection>(99, "127.0.0.1");
  EXPECT_TRUE(feed("A", card));
  EXPECT_EQ(sessions.SlotOf(*card), 1);
  clock.Advance(kPeerLogWindowMs);
  peerLog.Flush();
  EXPECT_EQ(U(log.lines.back().text),
            "未登录的连接另有 " + std::to_string(tried - written) + " 行日志未记录");
}

}  // namespace
}  // namespace aqled
