// The bounds of the link without sockets: log texts cut to length, the budget of bad-data lines,
// JSON nesting and the kinds of value taken as text, the frame reader picking up after bad data,
// and the receive road's wait for a Login answer on a fake clock.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "card_messages.h"
#include "link/exchange.h"
#include "link/frame_reader.h"
#include "link/limits.h"
#include "link/log_limit.h"
#include "link/receiver.h"
#include "link/session.h"
#include "link_harness.h"

namespace aqled {
namespace {

using testing::FakeClock;
using testing::FakeConnection;
using testing::G;
using testing::HandFrame;
using testing::RecordingLog;
using testing::StampedLog;
using testing::U;

// --- texts cut for the log -----------------------------------------------------------------

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

struct CutCase {
  const char* name;
  std::string gbk;
  std::string expected;  // GBK
};

class CutForLogTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutForLogTest, KeepsAtMostTheLimitAndGivesTheLength) {
  EXPECT_EQ(U(CutForLog(GetParam().gbk)), U(GetParam().expected)) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    LogLimit, CutForLogTest,
    ::testing::Values(
        CutCase{"Short", "abc", "abc"}, CutCase{"AtTheLimit", std::string(4096, 'a'), std::string(4096, 'a')},
        CutCase{"OneOver", std::string(4097, 'a'), std::string(4096, 'a') + G("…(共 4097 字节)")},
        // A double-byte character that would end one byte past the limit is left out whole.
        CutCase{"CharacterAtTheEdge", std::string(4095, 'a') + G("中") + "b",
                std::string(4095, 'a') + G("…(共 4098 字节)")},
        CutCase{"Characters", Repeat(G("中"), 1500) + std::string(1200, 'y'),
                Repeat(G("中"), 1500) + std::string(1096, 'y') + G("…(共 4200 字节)")},
        CutCase{"OddStart", "y" + Repeat(G("中"), 2100), "y" + Repeat(G("中"), 2047) + G("…(共 4201 字节)")}),
    [](const auto& info) { return std::string(info.param.name); });

// --- JSON ----------------------------------------------------------------------------------

std::string Arrays(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }
std::string Objects(int depth) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += R"({"a":)";
  s += "1";
  for (int i = 0; i < depth; ++i) s += "}";
  return s;
}

struct DepthCase {
  const char* name;
  std::string text;
  bool refused;
};

class NestingLimit : public ::testing::TestWithParam<DepthCase> {};

TEST_P(NestingLimit, RefusesOneLevelTooDeep) {
  if (GetParam().refused) {
    try {
      ParsePacket(GetParam().text);
      FAIL() << "accepted " << GetParam().name;
    } catch (const PacketError& e) {
      EXPECT_EQ(U(e.what()), "JSON 嵌套超过 64 层");
    }
  } else {
    EXPECT_NO_THROW(ParsePacket(GetParam().text)) << GetParam().name;
  }
}

INSTANTIATE_TEST_SUITE_P(JsonLimit, NestingLimit,
                         ::testing::Values(DepthCase{"Arrays64", Arrays(64), false},
                                           DepthCase{"Arrays65", Arrays(65), true},
                                           DepthCase{"Objects64", Objects(64), false},
                                           DepthCase{"Objects65", Objects(65), true},
                                           DepthCase{"Mixed65", "{\"a\":" + Arrays(64) + "}", true},
                                           // Unclosed: refused at the 65th opening, before the end.
                                           DepthCase{"Open100000", std::string(100000, '['), true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ParsePacket, TakesTheFirstValueAndLeavesTheRest) {
  EXPECT_EQ(ParsePacket(R"( {"name":"play"} {"name":"stopplay"})")["name"], "play");
  EXPECT_EQ(ParsePacket(R"({"name":"x"}garbage)")["name"], "x");
  EXPECT_THROW(ParsePacket("not json"), std::exception);
  EXPECT_THROW(ParsePacket(""), std::exception);
}

struct TextCase {
  const char* json;
  const char* text;  // nullptr: not taken as text
};

class TextKinds : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextKinds, OnlyTextsAndNumbersAreTexts) {
  const nlohmann::json object = nlohmann::json::parse(std::string(R"({"v":)") + GetParam().json + "}");
  if (GetParam().text) {
    EXPECT_EQ(JsonText(object, "v"), GetParam().text) << GetParam().json;
  } else {
    try {
      JsonText(object, "v");
      FAIL() << "taken: " << GetParam().json;
    } catch (const PacketError& e) {
      EXPECT_EQ(U(e.what()), "字段 \"v\" 不是文本或数字");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(JsonLimit, TextKinds,
                         ::testing::Values(TextCase{R"("abc")", "abc"}, TextCase{"12", "12"},
                                           TextCase{"-3", "-3"}, TextCase{"1.5", "1.5"}, TextCase{"null", ""},
                                           TextCase{"true", nullptr}, TextCase{"[1]", nullptr},
                                           TextCase{R"({"a":1})", nullptr}, TextCase{"[[[[]]]]", nullptr}));

// --- the frame reader after bad data -------------------------------------------------------

TEST(FrameReaderAfterBadData, DropsEverythingUpToTheNextMagicUnseen) {
  FrameReader reader;
  reader.Append(std::string(40, 'z'));
  ASSERT_TRUE(reader.Next());  // the foreign chunk, reported once
  std::string junk(200000, 'q');
  for (size_t at = 0; at < junk.size(); at += 4096) {
    reader.Append(std::string_view(junk).substr(at, 4096));
    EXPECT_FALSE(reader.Next()) << "not reported again";
    EXPECT_EQ(reader.Buffered(), 0u);
  }
  // The magic split over two reads is still found.
  const std::string frame = HandFrame(R"({"name":"a"})");
  reader.Append("qqqBX");
  EXPECT_EQ(reader.Buffered(), 2u);
  reader.Append(frame.substr(2) + HandFrame(R"({"name":"b"})"));
  std::vector<std::string> got;
  while (auto c = reader.Next()) {
    EXPECT_EQ(c->kind, ReceivedChunk::Kind::kFrame);
    got.push_back(c->bytes);
  }
  EXPECT_EQ(got, (std::vector<std::string>{R"({"name":"a"})", R"({"name":"b"})"}));
}

TEST(FrameReaderAfterBadData, AnIdleReaderGivesBackWhatALargeFrameTook) {
  FrameReader reader;
  reader.Append(HandFrame(std::string(60000, 'p')));
  ASSERT_TRUE(reader.Next());
  EXPECT_EQ(reader.Buffered(), 0u);
  EXPECT_LE(reader.Capacity(), kIdleReaderCapacity);
}

// --- the receive road's wait ---------------------------------------------------------------

class ReceiverWait : public ::testing::Test {
 protected:
  void EndWait() {
    ASSERT_TRUE(receiver.Waiting());
    clock.Advance(kLoginAnswerWaitMs);
    receiver.EndWait();
  }
  FakeClock clock;
  StampedLog log{clock};
  SessionTable sessions{log};
  CommandExchange exchange{sessions, log};
  LineBudget badData{log, clock, kBadDataLinesPerWindow, [](long long n) { return std::to_string(n); },
                     kSummaryWindowMs};
  std::shared_ptr<FakeConnection> card = std::make_shared<FakeConnection>(7, "127.0.0.1");
  ConnectionReceiver receiver{card, sessions, exchange, log, badData};
};

TEST_F(ReceiverWait, EachLoginWaitsForItsAnswerAndTheFramesBehindFollowInOrder) {
  const std::string login = testing::LoginText("X");
  exchange.BeginDelivery();
  receiver.Receive(HandFrame(login) + HandFrame(login) + HandFrame(R"({"name":"play"})"));
  EXPECT_TRUE(receiver.Waiting());
  // A command for the slot meanwhile waits for the answer.
  sessions.SendToSlot(1, R"({"name":"queryDisk"})", kFrameKindCommand);
  EXPECT_TRUE(card->writes.empty());
  EndWait();
  EXPECT_TRUE(receiver.Waiting()) << "the second login waits again";
  EndWait();
  EXPECT_FALSE(receiver.Waiting());
  const std::string answer = testing::kLoginAnswerText;
  EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                             "收到:" + login, "[标签:X] [新建链接] [序列:1]", "标签: X, 名称: N, 回复登录...",
                             "发送:" + answer, R"(发送:{"name":"queryDisk"})", "收到:" + login,
                             "[标签:X] [匹配链接] [序列:1]", "标签: X, 名称: N, 回复登录...",
                             "发送:" + answer, R"(收到:{"name":"play"})", "标签: X, 名称: N, 发送成功."}));
  EXPECT_EQ(log.stamps, (std::vector<qint64>{0, 0, 800, 800, 800, 800, 800, 1600, 1600, 1600, 1600}));
  EXPECT_EQ(card->Payloads(), (std::vector<std::string>{answer, R"({"name":"queryDisk"})", answer}));
}

TEST_F(ReceiverWait, ARefusedOrMalformedLoginDoesNotWait) {
  receiver.Receive(HandFrame(R"({"name":"LOGIN","input":{"barcode":"X"}})"));
  EXPECT_FALSE(receiver.Waiting());
  EXPECT_EQ(sessions.slotCount(), 0);
  receiver.Receive(HandFrame(testing::LoginText("X")));
  EndWait();
  auto other = std::make_shared<FakeConnection>(8, "127.0.0.1");
  ConnectionReceiver second(other, sessions, exchange, log, badData);
  second.Receive(HandFrame(testing::LoginText("Y", "M")));
  EXPECT_FALSE(second.Waiting()) << "the table is full: refused at once";
  EXPECT_TRUE(other->writes.empty());
}

}  // namespace
}  // namespace aqled
