#include <gtest/gtest.h>

#include <memory>

#include "card_messages.h"
#include "link/exchange.h"
#include "link/session.h"
#include "link_harness.h"

namespace aqled {
namespace {

using testing::FakeClock;
using testing::FakeConnection;
using testing::G;
using testing::kLoginAnswerText;
using testing::LoginText;
using testing::StampedLog;

constexpr const char* kDiskQuery = R"({"name":"queryDisk","input":{"storagemedia":"emmc"}})";
constexpr const char* kErrorPrefix = "错误,处理数据包时出错: ";

class ExchangeTest : public ::testing::Test {
 protected:
  // One packet, and for a login that is due an answer the wait, moved on the clock.
  void Feed(const std::string& utf8Text, const std::shared_ptr<FakeConnection>& from) {
    if (exchange.HandleControllerPacket(ParseReceived(G(utf8Text.c_str())), from)) {
      clock.Advance(kLoginAnswerWaitMs);
      waited_ms += kLoginAnswerWaitMs;
      sessions.SendLoginAnswer(*from);
    }
  }
  // Lines written from index `from` on, as UTF-8.
  std::vector<std::string> LinesSince(size_t from) const {
    auto all = log.Texts();
    return {all.begin() + static_cast<long>(std::min(from, all.size())), all.end()};
  }
  // Card X ("屏一") logged in on c1, a delivery begun, log and writes forgotten.
  void LoggedInAndDelivering() {
    Feed(LoginText("X", "屏一"), c1);
    exchange.BeginDelivery();
    c1->writes.clear();
    log.lines.clear();
  }

  FakeClock clock;
  long long waited_ms = 0;
  StampedLog log{clock};
  SessionTable sessions{log, &clock};
  CommandExchange exchange{sessions, log};
  std::shared_ptr<FakeConnection> c1 = std::make_shared<FakeConnection>(11, "127.0.0.1");
  std::shared_ptr<FakeConnection> c2 = std::make_shared<FakeConnection>(12, "127.0.0.1");
};

// --- the login road ----------------------------------------------------------------------

TEST_F(ExchangeTest, FirstLoginRecordsSlotWaitsAndAnswers) {
  Feed(LoginText("X", "屏一"), c1);
  EXPECT_EQ(log.Texts(),
            (std::vector<std::string>{"[标签:X] [新建链接] [序列:1]", "标签: X, 名称: 屏一, 回复登录...",
                                      std::string("发送:") + kLoginAnswerText}));
  for (const auto& l : log.lines) EXPECT_EQ(l.kind, 2);
  EXPECT_EQ(log.stamps, (std::vector<qint64>{0, 800, 800}));
  ASSERT_EQ(c1->writes.size(), 1u);
  EXPECT_EQ(c1->writes[0][28], 1);
  EXPECT_EQ(c1->Payloads()[0], kLoginAnswerText);
  EXPECT_EQ(sessions.slotCount(), 1);
  const Client_record& slot = sessions.Slot(1);
  EXPECT_EQ(slot.barcode, "X");
  EXPECT_EQ(slot.controllerName, G("屏一"));
  EXPECT_EQ(slot.width, 64);
  EXPECT_EQ(slot.height, 32);
  EXPECT_EQ(slot.socketHandle, 11);
  EXPECT_EQ(slot.remoteAddress, "127.0.0.1");
}

TEST_F(ExchangeTest, ReconnectIsAMatchedLinkOnTheNewConnection) {
  Feed(LoginText("X", "N"), c1);
  c1->open = false;
  EXPECT_EQ(sessions.HandleClose(*c1), 1);
  EXPECT_EQ(log.lines.back().kind, 1);
  EXPECT_EQ(log.Texts().back(), "客户端:X 断开连接");
  EXPECT_FALSE(sessions.SlotConnected(1));
  auto c3 = std::make_shared<FakeConnection>(13, "127.0.0.2");
  const size_t mark = log.lines.size();
  Feed(LoginText("X", "N2"), c3);
  EXPECT_EQ(LinesSince(mark)[0], "[标签:X] [匹配链接] [序列:1]");
  EXPECT_EQ(LinesSince(mark)[1], "标签: X, 名称: N2, 回复登录...");
  EXPECT_EQ(sessions.Slot(1).remoteAddress, "127.0.0.2");
  EXPECT_EQ(sessions.Slot(1).socketHandle, 13);
  EXPECT_EQ(c3->writes.size(), 1u);
  EXPECT_EQ(c1->writes.size(), 1u);
}

TEST_F(ExchangeTest, OldConnectionClosingDoesNotDisconnectTheNewLogin) {
  Feed(LoginText("X", "N"), c1);
  Feed(LoginText("X", "N"), c2);  // same address, new connection, the old one still open
  const size_t mark = log.lines.size();
  EXPECT_EQ(sessions.HandleClose(*c1), 0);
  EXPECT_TRUE(LinesSince(mark).empty());
  EXPECT_TRUE(sessions.SlotConnected(1));
  EXPECT_EQ(sessions.HandleClose(*c2), 1);
  EXPECT_EQ(sessions.HandleClose(*c2), 0) << "a second report of the same close logs nothing";
  EXPECT_EQ(LinesSince(mark), std::vector<std::string>{"客户端:X 断开连接"});
}

TEST_F(ExchangeTest, SecondCardIsRefusedAndNobodyIsAnswered) {
  Feed(LoginText("X", "N"), c1);
  const size_t mark = log.lines.size();
  Feed(LoginText("Y", "M"), c2);
  EXPECT_TRUE(c2->writes.empty());
  EXPECT_EQ(c1->writes.size(), 1u) << "X must not get a second Login answer";
  ASSERT_EQ(LinesSince(mark).size(), 1u);
  EXPECT_EQ(log.lines.back().kind, 1);
  EXPECT_NE(LinesSince(mark)[0].find("[标签:Y]"), std::string::npos) << LinesSince(mark)[0];
  EXPECT_EQ(sessions.Slot(1).barcode, "X");
  EXPECT_EQ(sessions.Slot(1).socketHandle, 11);
  EXPECT_EQ(waited_ms, 800) << "a refused login does not wait";
}

TEST_F(ExchangeTest, EmptyBarcodeMatchesTheEmptySlot) {
  Feed(LoginText("", "N"), c1);
  EXPECT_EQ(log.Texts()[0], "[标签:] [匹配链接] [序列:1]");
  EXPECT_EQ(sessions.slotCount(), 1);
  EXPECT_EQ(c1->writes.size(), 1u);
}

struct IntCase {
  const char* json;
  int expected;
};

class LoginWidth : public ExchangeTest, public ::testing::WithParamInterface<IntCase> {};

TEST_P(LoginWidth, IsReadAsAnInteger) {
  Feed(LoginText("X", "N", GetParam().json), c1);
  EXPECT_EQ(sessions.Slot(1).width, GetParam().expected) << GetParam().json;
  EXPECT_EQ(c1->writes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Session, LoginWidth,
                         ::testing::Values(IntCase{"\"128\"", 128}, IntCase{"128", 128},
                                           IntCase{"\"abc\"", 0}, IntCase{"127.6", 128},
                                           IntCase{"\"-5\"", -5}, IntCase{"\"12x\"", 0}, IntCase{"\"\"", 0},
                                           IntCase{"true", 0}, IntCase{"null", 0}, IntCase{"4294967296", 0},
                                           IntCase{"\"+7\"", 7}, IntCase{"\"+-5\"", 0}, IntCase{"\"-+5\"", 0},
                                           IntCase{"\"+\"", 0}));

class LoginMissingField : public ExchangeTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LoginMissingField, GivesTheErrorLineAndNoAnswer) {
  Feed(GetParam(), c1);
  ASSERT_FALSE(log.lines.empty());
  EXPECT_EQ(log.lines.back().kind, 1);
  EXPECT_EQ(log.Texts().back().rfind(kErrorPrefix, 0), 0u) << log.Texts().back();
  EXPECT_TRUE(c1->writes.empty());
  for (const auto& t : log.Texts()) EXPECT_EQ(t.find("回复登录"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Session, LoginMissingField,
    ::testing::Values(R"({"name":"login"})", R"({"name":"login","input":"x"})",
                      R"({"name":"login","input":{"controllername":"N","width":1,"height":1}})",
                      R"({"name":"login","input":{"barcode":"X","width":1,"height":1}})",
                      R"({"name":"login","input":{"barcode":"X","controllername":"N","height":1}})",
                      R"({"name":"login","input":{"barcode":"X","controllername":"N","width":1}})"));

TEST_F(ExchangeTest, LoginLackingHeightTakesNoSlot) {
  // A malformed first login once counted slot 1 with an empty barcode and locked the real
  // card out; now it changes nothing and the real card gets the slot.
  Feed(R"({"name":"login","input":{"barcode":"X","controllername":"N","width":"9"}})", c1);
  EXPECT_EQ(sessions.slotCount(), 0);
  EXPECT_EQ(sessions.Slot(1).controllerName, "");
  EXPECT_EQ(sessions.Slot(1).width, 0);
  EXPECT_EQ(sessions.Slot(1).socketHandle, 0);
  Feed(LoginText("Y", "M"), c2);
  EXPECT_EQ(log.Texts()[1], "[标签:Y] [新建链接] [序列:1]");
  EXPECT_EQ(c2->Payloads(), std::vector<std::string>{kLoginAnswerText});
}

TEST_F(ExchangeTest, SendToAClosedConnectionWritesAndLogsNothing) {
  Feed(LoginText("X", "N"), c1);
  c1->writes.clear();
  c1->open = false;
  const size_t mark = log.lines.size();
  sessions.SendToSlot(1, kDiskQuery, 2);
  sessions.SendToSlot(0, kDiskQuery, 2);
  EXPECT_TRUE(c1->writes.empty());
  EXPECT_TRUE(LinesSince(mark).empty());
}

TEST_F(ExchangeTest, RefusedWriteLogsTheSendAndClosesTheSlot) {
  Feed(LoginText("X", "N"), c1);
  c1->refuse = true;
  const size_t mark = log.lines.size();
  sessions.SendToSlot(1, kDiskQuery, 2);
  EXPECT_EQ(LinesSince(mark),
            (std::vector<std::string>{std::string("发送:") + kDiskQuery, "客户端:X 断开连接"}));
  EXPECT_FALSE(c1->open);
  EXPECT_FALSE(sessions.SlotConnected(1));
}

// --- heartbeats and the card reset -------------------------------------------------------

TEST_F(ExchangeTest, HeartbeatsBeforeAnyDeliveryClearTheFlagsAndSendNothing) {
  exchange.ArmCardReset();
  Feed(LoginText("X", "N"), c1);
  c1->writes.clear();
  const size_t mark = log.lines.size();
  Feed(R"({"name":"heartbeat"})", c1);
  EXPECT_FALSE(exchange.State().pendingDiskQuery);
  EXPECT_TRUE(exchange.State().pendingStopPlay);
  Feed(R"({"name":"HEARTBEAT"})", c1);
  EXPECT_FALSE(exchange.State().pendingStopPlay);
  Feed(R"({"name":"HeartBeat"})", c1);
  EXPECT_TRUE(c1->writes.empty());
  EXPECT_TRUE(LinesSince(mark).empty());
}

TEST_F(ExchangeTest, DeliveryStartedWhileFlagsArePendingClearsThem) {
  exchange.ArmCardReset();
  Feed(LoginText("X", "N"), c1);
  c1->writes.clear();
  exchange.BeginDelivery();
  EXPECT_EQ(exchange.State().deliverySlot, 1);
  EXPECT_FALSE(exchange.State().pendingDiskQuery);
  EXPECT_FALSE(exchange.State().pendingStopPlay);
  Feed(R"({"name":"heartbeat"})", c1);
  Feed(R"({"name":"heartbeat"})", c1);
  EXPECT_TRUE(c1->writes.empty()) << "the reset must not delete what the delivery sent";
}

struct Transition {
  const char* received;
  std::vector<std::string> lines;  // after the exchange handled it
  std::vector<std::string> sent;
};

class ResetChain : public ExchangeTest, public ::testing::WithParamInterface<Transition> {};

TEST_P(ResetChain, AnswerSendsTheNextCommand) {
  LoggedInAndDelivering();
  Feed(GetParam().received, c1);
  EXPECT_EQ(log.Texts(), GetParam().lines);
  for (const auto& l : log.lines) EXPECT_EQ(l.kind, 2);
  EXPECT_EQ(c1->Payloads(), GetParam().sent);
  for (const auto& w : c1->writes) EXPECT_EQ(w[28], 2);
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, ResetChain,
    ::testing::Values(
        Transition{R"({"name":"stopPlay","output":{}})",
                   {"标签: X, 名称: 屏一, 提交删除节目...",
                    R"(发送:{"name":"clearAllProgram","input":{"keepmaterial":"no"}})"},
                   {R"({"name":"clearAllProgram","input":{"keepmaterial":"no"}})"}},
        Transition{R"({"name":"clearAllProgram"})",
                   {"标签: X, 名称: 屏一, 提交清除素材...", R"(发送:{"name": "clearuselessmaterial"})"},
                   {R"({"name": "clearuselessmaterial"})"}},
        Transition{R"({"name":"ClearUselessMaterial"})", {std::string("发送:") + kDiskQuery}, {kDiskQuery}},
        Transition{R"({"name":"play"})", {"标签: X, 名称: 屏一, 发送成功."}, {}},
        Transition{R"({"name":"UpdateDynamic","output":{}})", {}, {}},
        Transition{R"({"name":"queryDisk","output":{}})", {}, {}},
        Transition{R"({"name":"somethingElse"})", {}, {}}));

TEST_F(ExchangeTest, StopPlayAnswerBeforeAnyDeliveryLogsEmptyTagAndSendsNothing) {
  Feed(LoginText("X", "N"), c1);
  c1->writes.clear();
  const size_t mark = log.lines.size();
  Feed(R"({"name":"stopplay"})", c1);
  EXPECT_EQ(LinesSince(mark), std::vector<std::string>{"标签: , 名称: , 提交删除节目..."});
  EXPECT_TRUE(c1->writes.empty());
}

TEST_F(ExchangeTest, StopPlayCommandKeepsItsTrailingBlank) {
  // Only a card that heartbeats while deliverySlot is set and flags are armed gets it; arm the
  // reset after the delivery began to see the command itself.
  LoggedInAndDelivering();
  exchange.ArmCardReset();
  Feed(R"({"name":"heartbeat"})", c1);
  Feed(R"({"name":"heartbeat"})", c1);
  EXPECT_EQ(c1->Payloads(),
            (std::vector<std::string>{kDiskQuery, R"({"name":"stopPlay","input":{"type":"program"}} )"}));
  EXPECT_EQ(c1->writes[1].size(), 32u + 47u);
}

// --- the download loop -------------------------------------------------------------------

constexpr const char* kDownload = R"({"name":"downloadfilefromurl","input":{"items":[]}})";
constexpr const char* kPlay =
    R"({"name":"play","input":{"type":"program","playlist":"share/20240305080509_ll.xml"}})";

std::string Progress(const std::string& id) {
  return R"({"name":"querydownloadprogress","input":{"delay":"5","id":")" + id + R"("}})";
}

TEST_F(ExchangeTest, StoredDownloadGoesOutOnceOnTheDiskQueryAnswer) {
  LoggedInAndDelivering();
  exchange.StoreProgramCommands(kDownload, kPlay);
  Feed(R"({"name":"clearuselessmaterial"})", c1);
  Feed(R"({"name":"queryDisk","output":{"free":"1"}})", c1);
  Feed(R"({"name":"QUERYDISK"})", c1);
  EXPECT_EQ(c1->Payloads(), (std::vector<std::string>{kDiskQuery, kDownload}));
  EXPECT_EQ(log.Texts()[1], "标签: X, 名称: 屏一, 正在发送下载指令...");
  EXPECT_FALSE(exchange.State().downloadPending);
}

TEST_F(ExchangeTest, NoDownloadIsSentWhenNoneWasStored) {
  LoggedInAndDelivering();
  Feed(R"({"name":"queryDisk"})", c1);
  EXPECT_TRUE(c1->writes.empty());
}

TEST_F(ExchangeTest, DiskQueryAnswerFromAnotherConnectionDoesNotSendTheDownload) {
  LoggedInAndDelivering();
  exchange.StoreProgramCommands(kDownload, kPlay);
  Feed(R"({"name":"queryDisk"})", c2);
  EXPECT_TRUE(c1->writes.empty());
  EXPECT_TRUE(c2->writes.empty());
  EXPECT_TRUE(exchange.State().downloadPending);
}

TEST_F(ExchangeTest, NewerDeliveryReplacesTheStoredCommands) {
  LoggedInAndDelivering();
  exchange.StoreProgramCommands("old download", "old play");
  exchange.BeginDelivery();
  exchange.StoreProgramCommands(kDownload, kPlay);
  Feed(R"({"name":"queryDisk"})", c1);
  EXPECT_EQ(c1->Payloads(), std::vector<std::string>{kDownload});
}

TEST_F(ExchangeTest, DynamicDeliveryForgetsAnUnsentDownload) {
  LoggedInAndDelivering();
  exchange.StoreProgramCommands(kDownload, kPlay);
  exchange.BeginDelivery();
  exchange.StoreDynamicCommand(R"({"name":"UpdateDynamic"})");
  Feed(R"({"name":"queryDisk"})", c1);
  EXPECT_TRUE(c1->writes.empty());
}

TEST_F(ExchangeTest, ProgressLoopRunsToPlay) {
  LoggedInAndDelivering();
  exchange.StoreProgramCommands(kDownload, kPlay);
  Feed(R"({"name":"downloadFileFromUrl","output":{"id":"7"}})", c1);
  Feed(R"({"name":"querydownloadprogress","output":{"status":"waiting"}})", c1);
  Feed(R"({"name":"QueryDownloadProgress","output":{"status":"Downloading"}})", c1);
  Feed(R"({"name":"querydownloadprogress","output":{"status":"downloading"}})", c1);
  Feed(R"({"name":"querydownloadprogress","output":{"status":"CompLete"}})", c1);
  Feed(R"({"name":"Play","output":{}})", c1);
  EXPECT_EQ(c1->Payloads(),
            (std::vector<std::string>{Progress("7"), Progress("7"), Progress("7"), Progress("7"), kPlay}));
  EXPECT_EQ(log.Texts(),
            (std::vector<std::string>{
                "标签: X, 名称: 屏一, 下载ID: 7, 正在发送...", "发送:" + Progress("7"),
                "标签: X, 名称: 屏一, 下载状态: WAITING, 正在发送...", "发送:" + Progress("7"),
                "标签: X, 名称: 屏一, 下载状态: DOWNLOADING, 正在发送...", "发送:" + Progress("7"),
                "标签: X, 名称: 屏一, 下载状态: DOWNLOADING, 正在发送...", "发送:" + Progress("7"),
                "标签: X, 名称: 屏一, 下载完毕, 正在发送播放指令...", std::string("发送:") + kPlay,
                "标签: X, 名称: 屏一, 发送成功."}));
  EXPECT_EQ(exchange.State().downloadStatus, "COMPLETE");
}

class EndingStatus : public ExchangeTest,
                     public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(EndingStatus, EndsTheChainWithALineNamingTheStatus) {
  LoggedInAndDelivering();
  exchange.StoreProgramCommands(kDownload, kPlay);
  std::vector<DeliveryOutcome> ended;
  exchange.SetDeliveryEndHandler([&](DeliveryOutcome o, int) { ended.push_back(o); });
  exchange.WatchDelivery(DeliveryRoute::kProgram, clock.Now());
  Feed(R"({"name":"downloadfilefromurl","output":{"id":"7"}})", c1);
  c1->writes.clear();
  const size_t mark = log.lines.size();
  Feed(GetParam().first, c1);
  EXPECT_TRUE(c1->writes.empty());
  EXPECT_EQ(LinesSince(mark), std::vector<std::string>{"标签: X, 名称: 屏一, 下载状态: " +
                                                       std::string(GetParam().second) + ", 发送失败."});
  EXPECT_EQ(log.lines.back().kind, 1);
  EXPECT_EQ(exchange.State().downloadStatus, GetParam().second);
  EXPECT_EQ(ended, std::vector<DeliveryOutcome>{DeliveryOutcome::kFailed});
  EXPECT_FALSE(exchange.State().deliveryWatched);
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, EndingStatus,
    ::testing::Values(std::pair{R"({"name":"querydownloadprogress","output":{"status":"failed"}})", "FAILED"},
                      std::pair{R"({"name":"querydownloadprogress","output":{"status":"sizeMismatch"}})",
                                "SIZEMISMATCH"},
                      std::pair{R"({"name":"querydownloadprogress","output":{}})", ""},
                      std::pair{R"({"name":"querydownloadprogress","output":{"status":""}})", ""}));

// --- the end of a watched delivery ------------------------------------------------------

class DeliveryWatch : public ExchangeTest {
 protected:
  void SetUp() override {
    LoggedInAndDelivering();
    exchange.SetDeliveryEndHandler([this](DeliveryOutcome o, int) { ended.push_back(o); });
  }
  // A program delivery watched from now, its commands stored and its download under way.
  void ProgramUnderWay() {
    exchange.StoreProgramCommands(kDownload, kPlay);
    exchange.WatchDelivery(DeliveryRoute::kProgram, clock.Now());
    Feed(R"({"name":"queryDisk","output":{}})", c1);
    Feed(R"({"name":"downloadfilefromurl","output":{"id":"7"}})", c1);
  }
  std::vector<DeliveryOutcome> ended;
};

TEST_F(DeliveryWatch, TheAnswerToItsOwnPlayCommandIsTheSuccess) {
  ProgramUnderWay();
  Feed(R"({"name":"play","output":{}})", c1);
  EXPECT_TRUE(ended.empty()) << "a play answer before its play command went out is an older one's";
  Feed(R"({"name":"querydownloadprogress","output":{"status":"complete"}})", c1);
  Feed(R"({"name":"play","output":{}})", c2);
  EXPECT_TRUE(ended.empty()) << "an answer on another connection is no answer of the card";
  Feed(R"({"name":"play","output":{}})", c1);
  EXPECT_EQ(ended, std::vector<DeliveryOutcome>{DeliveryOutcome::kSucceeded});
  Feed(R"({"name":"play","output":{}})", c1);
  EXPECT_EQ(ended.size(), 1u) << "reported once";
  EXPECT_EQ(log.Texts().back(), "标签: X, 名称: 屏一, 发送成功.");
}

TEST_F(DeliveryWatch, ADynamicAreaEndsWithItsAnswerAndOnlyItsRouteCounts) {
  exchange.WatchDelivery(DeliveryRoute::kDynamic, clock.Now());
  const size_t mark = log.lines.size();
  Feed(R"({"name":"play","output":{}})", c1);
  EXPECT_TRUE(ended.empty());
  Feed(R"({"name":"UpdateDynamic","output":{"result":"ok"}})", c1);
  EXPECT_EQ(ended, std::vector<DeliveryOutcome>{DeliveryOutcome::kSucceeded});
  EXPECT_EQ(LinesSince(mark), std::vector<std::string>{"标签: X, 名称: 屏一, 发送成功."})
      << "the dynamic answer adds no line of its own";
}

struct StallCase {
  const char* name;
  DeliveryRoute route;
  qint64 beforeMs;  // still within the limit
  qint64 atMs;      // the limit reached
  const char* line;
};
void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

class Stall : public DeliveryWatch, public ::testing::WithParamInterface<StallCase> {};

TEST_P(Stall, TheLimitEndsTheDeliveryWithALine) {
  const StallCase& c = GetParam();
  const QDateTime start = clock.Now();
  exchange.WatchDelivery(c.route, start);
  EXPECT_FALSE(exchange.CheckDeliveryDeadline(start.addMSecs(c.beforeMs)));
  EXPECT_TRUE(ended.empty());
  EXPECT_TRUE(log.lines.empty());
  EXPECT_TRUE(exchange.CheckDeliveryDeadline(start.addMSecs(c.atMs)));
  EXPECT_EQ(ended, std::vector<DeliveryOutcome>{DeliveryOutcome::kStalled});
  EXPECT_EQ(log.Texts(), std::vector<std::string>{c.line});
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_FALSE(exchange.CheckDeliveryDeadline(start.addMSecs(c.atMs + 60000))) << "once";
}

INSTANTIATE_TEST_SUITE_P(
    Exchange, Stall,
    ::testing::Values(StallCase{"Program", DeliveryRoute::kProgram, 10 * 60000 - 1, 10 * 60000,
                                "标签: X, 名称: 屏一, 10 分钟内未完成节目发送, 发送失败."},
                      StallCase{"Dynamic", DeliveryRoute::kDynamic, 2 * 60000 - 1, 2 * 60000,
                                "标签: X, 名称: 屏一, 2 分钟内未收到动态区应答, 发送失败."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeliveryWatch, ANewDeliveryDropsTheWatchWithoutAnOutcome) {
  ProgramUnderWay();
  exchange.BeginDelivery();
  EXPECT_FALSE(exchange.State().deliveryWatched);
  EXPECT_FALSE(exchange.CheckDeliveryDeadline(clock.Now().addSecs(3600)));
  Feed(R"({"name":"querydownloadprogress","output":{"status":"complete"}})", c1);
  Feed(R"({"name":"play"})", c1);
  EXPECT_TRUE(ended.empty());
}

TEST_F(DeliveryWatch, AFailureStatusWithoutAWatchedDeliveryIsStillNamed) {
  exchange.StoreProgramCommands(kDownload, kPlay);
  Feed(R"({"name":"querydownloadprogress","output":{"status":"error"}})", c1);
  EXPECT_EQ(log.Texts().back(), "标签: X, 名称: 屏一, 下载状态: ERROR, 发送失败.");
  EXPECT_TRUE(ended.empty());
}

// --- failures the card reports -----------------------------------------------------------

struct ResultCase {
  const char* name;
  DeliveryRoute route;
  const char* answer;
  const char* line;  // the one line the answer gives; nullptr: none
  bool failed;
};
void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

class CardResult : public DeliveryWatch, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(CardResult, AFailureResultEndsTheDeliveryAsFailedAndSendsNothingMore) {
  const ResultCase& c = GetParam();
  if (c.route == DeliveryRoute::kProgram) {
    ProgramUnderWay();
    Feed(R"({"name":"querydownloadprogress","output":{"status":"complete"}})", c1);
  } else {
    exchange.WatchDelivery(DeliveryRoute::kDynamic, clock.Now());
  }
  c1->writes.clear();
  const size_t mark = log.lines.size();
  Feed(c.answer, c1);
  EXPECT_EQ(LinesSince(mark), c.line ? std::vector<std::string>{c.line} : std::vector<std::string>{});
  if (c.line) {
    EXPECT_EQ(log.lines.back().kind, c.failed ? 1 : 2);
  }
  EXPECT_EQ(ended,
            std::vector<DeliveryOutcome>{c.failed ? DeliveryOutcome::kFailed : DeliveryOutcome::kSucceeded});
  EXPECT_EQ(c1->Payloads(), std::vector<std::string>{});
}

constexpr const char* kOk = "标签: X, 名称: 屏一, 发送成功.";

INSTANTIATE_TEST_SUITE_P(
    Exchange, CardResult,
    ::testing::Values(
        ResultCase{"PlayOk", DeliveryRoute::kProgram, R"({"name":"play","output":{"result":"ok"}})", kOk,
                   false},
        ResultCase{"PlayOK", DeliveryRoute::kProgram, R"({"name":"Play","output":{"result":"OK"}})", kOk,
                   false},
        ResultCase{"PlayOkMixed", DeliveryRoute::kProgram, R"({"name":"play","output":{"result":"Ok"}})", kOk,
                   false},
        ResultCase{"PlayWithoutResult", DeliveryRoute::kProgram,
                   R"({"name":"play","output":{"pictures":"4"}})", kOk, false},
        ResultCase{"PlayNullResult", DeliveryRoute::kProgram, R"({"name":"play","output":{"result":null}})",
                   kOk, false},
        ResultCase{"PlayFail", DeliveryRoute::kProgram,
                   R"({"name":"play","output":{"result":"fail","message":"图片无法解码"}})",
                   "标签: X, 名称: 屏一, play 失败: result=fail, message=图片无法解码, 发送失败.", true},
        ResultCase{"PlayErrorWithReason", DeliveryRoute::kProgram,
                   R"({"name":"PLAY","output":{"result":"error","reason":"no space"}})",
                   "标签: X, 名称: 屏一, play 失败: result=error, message=no space, 发送失败.", true},
        ResultCase{"PlayEmptyResult", DeliveryRoute::kProgram, R"({"name":"play","output":{"result":""}})",
                   "标签: X, 名称: 屏一, play 失败: result=, message=, 发送失败.", true},
        ResultCase{"PlayNumberResult", DeliveryRoute::kProgram, R"({"name":"play","output":{"result":0}})",
                   "标签: X, 名称: 屏一, play 失败: result=0, message=, 发送失败.", true},
        ResultCase{"DynamicOk", DeliveryRoute::kDynamic,
                   R"({"name":"UpdateDynamic","output":{"result":"oK"}})", nullptr, false},
        ResultCase{"DynamicFail", DeliveryRoute::kDynamic,
                   R"({"name":"updatedynamic","output":{"result":"fail","message":"bad unit"}})",
                   "标签: X, 名称: 屏一, UpdateDynamic 失败: result=fail, message=bad unit, 发送失败.", true},
        ResultCase{"CleanUpFail", DeliveryRoute::kProgram,
                   R"({"name":"clearuselessmaterial","output":{"result":"busy"}})",
                   "标签: X, 名称: 屏一, clearuselessmaterial 失败: result=busy, message=, 发送失败.", true},
        ResultCase{"DiskQueryFail", DeliveryRoute::kProgram,
                   R"({"name":"queryDisk","output":{"result":"fail"}})",
                   "标签: X, 名称: 屏一, queryDisk 失败: result=fail, message=, 发送失败.", true},
        ResultCase{"DownloadFail", DeliveryRoute::kProgram,
                   R"({"name":"downloadfilefromurl","output":{"id":"8","result":"refused","message":"url"}})",
                   "标签: X, 名称: 屏一, downloadfilefromurl 失败: result=refused, message=url, 发送失败.",
                   true},
        ResultCase{"ProgressFail", DeliveryRoute::kProgram,
                   R"({"name":"querydownloadprogress","output":{"status":"downloading","result":"fail"}})",
                   "标签: X, 名称: 屏一, querydownloadprogress 失败: result=fail, message=, 发送失败.",
                   true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeliveryWatch, ALongFailureTextIsCutLikeAReceivedText) {
  exchange.WatchDelivery(DeliveryRoute::kDynamic, clock.Now());
  Feed(R"({"name":"UpdateDynamic","output":{"result":"fail","message":")" + std::string(5000, 'm') + "\"}}",
       c1);
  EXPECT_EQ(log.Texts().back(), "标签: X, 名称: 屏一, UpdateDynamic 失败: result=fail, message=" +
                                    std::string(4096, 'm') + "…(共 5000 字节), 发送失败.");
}

TEST_F(DeliveryWatch, ATakeoverBeforeThePlayAnswerFailsTheDeliveryAndItsChainEnds) {
  sessions.SetReplaceHandler([this](int k, const auto&) { exchange.SlotReplaced(k); });
  ProgramUnderWay();
  Feed(LoginText("X", "evil"), c2);
  EXPECT_EQ(ended, std::vector<DeliveryOutcome>{DeliveryOutcome::kFailed});
  EXPECT_EQ(log.Texts()[log.lines.size() - 3],
            "标签: X, 名称: evil, 发送中控制卡的连接被新连接取代, 发送失败.");
  c2->writes.clear();
  Feed(R"({"name":"querydownloadprogress","output":{"status":"complete"}})", c2);
  EXPECT_TRUE(c2->writes.empty()) << "the new connection gets no play command";
}

// A delivery begun while the card still polls an earlier download: that loop's "complete" sends
// the new play command, but only the new download's own "complete" counts for the delivery.
TEST_F(DeliveryWatch, AnEarlierDownloadsCompleteDoesNotEndTheNextDelivery) {
  const std::string waiting = R"({"name":"querydownloadprogress","output":{"status":"waiting"}})";
  const std::string complete = R"({"name":"querydownloadprogress","output":{"status":"complete"}})";
  const std::string queryDisk = R"({"name":"queryDisk","output":{}})";
  const std::string download = R"({"name":"downloadfilefromurl","output":{"id":"8"}})";
  const std::string play = R"({"name":"play","output":{}})";
  const std::string failed = R"({"name":"querydownloadprogress","output":{"status":"failed"}})";
  const std::string reported = R"({"name":"querydownloadprogress","output":{"result":"error"}})";
  struct Case {
    const char* name;
    std::vector<std::string> before;   // answers to the earlier delivery
    std::vector<std::string> earlier;  // answers after the next delivery began, none of which ends it
  };
  const Case cases[] = {
      {"complete before the next download went out", {}, {complete, play, queryDisk, download}},
      {"complete between the next download and its answer", {}, {queryDisk, complete, play, download}},
      // The earlier loop's query went out after the next download command: its answer comes
      // after the download's answer.
      {"complete answering a query sent before the next download was answered",
       {},
       {queryDisk, waiting, download, complete, play}},
      {"a failure status answering such a query", {}, {queryDisk, waiting, download, failed}},
      // A progress answer reporting a failure still answered its query.
      {"the earlier delivery failed by a reported result", {reported}, {queryDisk, download}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramUnderWay();  // a progress query for download 7 is out
    for (const std::string& answer : c.before) Feed(answer, c1);
    ended.clear();
    exchange.BeginDelivery();
    exchange.StoreProgramCommands(kDownload, kPlay);
    exchange.WatchDelivery(DeliveryRoute::kProgram, clock.Now());
    for (const std::string& answer : c.earlier) Feed(answer, c1);
    EXPECT_TRUE(ended.empty());
    EXPECT_TRUE(exchange.State().deliveryWatched);
    Feed(complete, c1);
    Feed(play, c1);
    EXPECT_EQ(ended, std::vector<DeliveryOutcome>{DeliveryOutcome::kSucceeded});
  }
}

// A card whose connection closed during a delivery logs in again: the failed delivery's
// download and play do not go out on the new connection.
TEST_F(DeliveryWatch, AClosedConnectionsDeliveryIsNotCarriedOnAfterTheCardComesBack) {
  sessions.SetCloseHandler([this](int k) { exchange.SlotClosed(k); });
  exchange.StoreProgramCommands(kDownload, kPlay);
  exchange.WatchDelivery(DeliveryRoute::kProgram, clock.Now());
  c1->open = false;
  sessions.HandleClose(*c1);
  EXPECT_EQ(ended, std::vector<DeliveryOutcome>{DeliveryOutcome::kFailed});
  Feed(LoginText("X", "屏一"), c2);
  clock.Advance(kLoginAnswerWaitMs);
  sessions.SendLoginAnswer(*c2);
  c2->writes.clear();
  Feed(R"({"name":"queryDisk","output":{}})", c2);
  Feed(R"({"name":"querydownloadprogress","output":{"status":"complete"}})", c2);
  EXPECT_TRUE(c2->writes.empty()) << ::testing::PrintToString(c2->Payloads());
}

TEST_F(ExchangeTest, EveryFrameOfTheSlotsCardRecordsWhenItCame) {
  EXPECT_FALSE(sessions.Slot(1).lastMessage.isValid());
  const QDateTime loginCame = clock.Now();
  Feed(LoginText("X", "屏一"), c1);
  EXPECT_EQ(sessions.Slot(1).lastMessage, loginCame) << "when the login came, not after its wait";
  clock.Advance(5000);
  Feed("not json", c1);
  EXPECT_EQ(sessions.Slot(1).lastMessage, clock.Now()) << "a frame that fails still came";
  const QDateTime before = clock.Now();
  clock.Advance(5000);
  Feed(R"({"name":"heartbeat"})", c2);
  EXPECT_EQ(sessions.Slot(1).lastMessage, before) << "another connection is not the card";
}

TEST_F(ExchangeTest, DownloadAnswerWithoutIdQueriesAnEmptyId) {
  LoggedInAndDelivering();
  Feed(R"({"name":"downloadfilefromurl","output":{}})", c1);
  EXPECT_EQ(c1->Payloads(), std::vector<std::string>{Progress("")});
}

TEST_F(ExchangeTest, DownloadAnswerWithoutOutputIsAnErrorAndKeepsTheId) {
  LoggedInAndDelivering();
  Feed(R"({"name":"downloadfilefromurl","output":{"id":"42"}})", c1);
  c1->writes.clear();
  log.lines.clear();
  Feed(R"({"name":"downloadfilefromurl"})", c1);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(log.Texts()[0], std::string(kErrorPrefix) + "缺少字段 \"output\"");
  EXPECT_EQ(exchange.State().downloadId, "42");
  EXPECT_TRUE(c1->writes.empty());
}

// --- parsing -----------------------------------------------------------------------------

class NotAPacket : public ExchangeTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(NotAPacket, GivesTheErrorLine) {
  LoggedInAndDelivering();
  Feed(GetParam(), c1);
  ASSERT_EQ(log.lines.size(), 1u) << GetParam();
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(log.Texts()[0].rfind(kErrorPrefix, 0), 0u) << log.Texts()[0];
  EXPECT_GT(log.Texts()[0].size(), std::string(kErrorPrefix).size()) << "the description is given";
  EXPECT_TRUE(c1->writes.empty());
}

INSTANTIATE_TEST_SUITE_P(Exchange, NotAPacket,
                         ::testing::Values("not json", "{}", "", "[1,2]", "12abc", R"({"name":"play")",
                                           R"({"nAme":"play"})", R"({"name":"login","input":[]})"));

TEST_F(ExchangeTest, OnlyTheFirstJsonValueIsActedOn) {
  LoggedInAndDelivering();
  Feed(R"({"name":"clearuselessmaterial"}garbage)", c1);
  Feed(R"(  {"name":"play"} {"name":"stopplay"})", c1);
  EXPECT_EQ(c1->Payloads(), std::vector<std::string>{kDiskQuery});
  EXPECT_EQ(log.Texts(),
            (std::vector<std::string>{std::string("发送:") + kDiskQuery, "标签: X, 名称: 屏一, 发送成功."}));
}

TEST_F(ExchangeTest, ChineseValuesComeBackAsGbk) {
  Feed(LoginText("标签甲", "北门屏"), c1);
  EXPECT_EQ(sessions.Slot(1).barcode, G("标签甲"));
  EXPECT_EQ(log.Texts()[0], "[标签:标签甲] [新建链接] [序列:1]");
}

}  // namespace
}  // namespace aqled
