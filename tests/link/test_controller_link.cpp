#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "card_messages.h"
#include "link/controller_link.h"
#include "link/frame_reader.h"
#include "link_harness.h"

namespace aqled {
namespace {

using testing::Card;
using testing::HandFrame;
using testing::WaitFor;

const std::string kLogin = testing::LoginText("X");

class ControllerLinkTest : public testing::LinkTest {
 protected:
  // Waits until the server has taken everything written so far off the socket.
  void WaitServerHas(size_t buffered) {
    ASSERT_TRUE(WaitFor([&] { return link.BufferedBytes() == buffered; })) << link.BufferedBytes();
  }
};

TEST_F(ControllerLinkTest, CardLogsInAndGetsTheLoginAnswerFrame) {
  Card card(link.ServerPort());
  ASSERT_TRUE(card.connected);
  card.Write(HandFrame(kLogin));
  ASSERT_TRUE(WaitFor([&] { return !card.frames.empty(); }));
  EXPECT_EQ(card.frames[0].frameKind, 1);
  EXPECT_EQ(card.frames[0].bytes, testing::kLoginAnswerText);
  EXPECT_EQ(log.Texts()[0], "收到:" + kLogin);
  EXPECT_EQ(log.lines[0].kind, 3);
  EXPECT_EQ(log.Texts()[1], "[标签:X] [新建链接] [序列:1]");
  EXPECT_TRUE(link.SlotConnected(1));
  EXPECT_EQ(link.Slot(1).remoteAddress, "127.0.0.1");
  EXPECT_GT(link.Slot(1).socketHandle, 0);
}

TEST_F(ControllerLinkTest, FrameSplitOverSeveralReadsIsHandledOnce) {
  Card card(link.ServerPort());
  const std::string frame = HandFrame(kLogin);
  card.Write(frame.substr(0, 10));
  WaitServerHas(10);
  EXPECT_TRUE(log.lines.empty()) << "fewer than 32 bytes: nothing read out, nothing logged";
  card.Write(frame.substr(10, 40));
  WaitServerHas(50);
  card.Write(frame.substr(50));
  ASSERT_TRUE(WaitFor([&] { return !card.frames.empty(); }));
  EXPECT_EQ(CountPrefix("收到:"), 1);
  EXPECT_EQ(Count("[标签:X] [新建链接] [序列:1]"), 1);
}

TEST_F(ControllerLinkTest, SeveralFramesInOneReadAreEachHandled) {
  Card card(link.ServerPort());
  card.Write(HandFrame(kLogin) + HandFrame(R"({"name":"heartbeat"})") + HandFrame(R"({"name":"stopplay"})"));
  ASSERT_TRUE(WaitFor([&] { return CountPrefix("收到:") == 3; }));
  EXPECT_EQ(Count("收到:" + kLogin), 1);
  EXPECT_EQ(Count(R"(收到:{"name":"heartbeat"})"), 1);
  EXPECT_EQ(Count("标签: , 名称: , 提交删除节目..."), 1);
  EXPECT_EQ(CountPrefix("错误"), 0);
}

TEST_F(ControllerLinkTest, ForeignBytesAreLoggedOnceAndTheConnectionStays) {
  Card card(link.ServerPort());
  card.Write(std::string(32, 'z') + " hello ");
  ASSERT_TRUE(WaitFor([&] { return !log.lines.empty(); }));
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"收到:hello"});
  card.Write(HandFrame(kLogin));
  ASSERT_TRUE(WaitFor([&] { return !card.frames.empty(); }));
}

TEST_F(ControllerLinkTest, BadFrameLengthIsAnErrorAndTheConnectionStays) {
  Card card(link.ServerPort());
  card.Write(HandFrame("{}", 2, 5000000));
  ASSERT_TRUE(WaitFor([&] { return !log.lines.empty(); }));
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(log.Texts()[0].rfind("错误:", 0), 0u) << log.Texts()[0];
  EXPECT_EQ(link.BufferedBytes(), 0u);
  card.Write(HandFrame(kLogin));
  ASSERT_TRUE(WaitFor([&] { return !card.frames.empty(); }));
}

TEST_F(ControllerLinkTest, BareHeaderLogsAnEmptyTextAndTheParseError) {
  Card card(link.ServerPort());
  card.Write(HandFrame(""));
  ASSERT_TRUE(WaitFor([&] { return log.lines.size() == 2; }));
  EXPECT_EQ(log.Texts()[0], "收到:");
  EXPECT_EQ(log.Texts()[1].rfind("错误,处理数据包时出错: ", 0), 0u);
}

TEST_F(ControllerLinkTest, InvalidUtf8PayloadBecomesAnEmptyText) {
  Card card(link.ServerPort());
  card.Write(HandFrame(std::string("{\"name\":\"play\"}\x96") + '\0'));
  ASSERT_TRUE(WaitFor([&] { return log.lines.size() == 2; }));
  EXPECT_EQ(log.Texts()[0], "收到:");
}

struct CloseCase {
  const char* name;
  bool reset;
};

class CardGoesAway : public ControllerLinkTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CardGoesAway, MarksTheSlotDisconnectedOnce) {
  auto card = std::make_unique<Card>(link.ServerPort());
  card->Write(HandFrame(kLogin));
  ASSERT_TRUE(WaitFor([&] { return !card->frames.empty(); }));
  if (GetParam().reset)
    card->Reset();
  else
    card->socket.disconnectFromHost();
  ASSERT_TRUE(WaitFor([&] { return !link.SlotConnected(1); })) << GetParam().name;
  EXPECT_TRUE(WaitFor([&] { return link.OpenConnections() == 0; }));
  EXPECT_EQ(Count("客户端:X 断开连接"), 1);
  EXPECT_EQ(log.lines.back().kind, 1);
  // Nothing goes to the dead connection, and no send line claims it did.
  const size_t before = log.lines.size();
  link.SendToSlot(1, R"({"name":"queryDisk","input":{"storagemedia":"emmc"}})", 2);
  EXPECT_EQ(log.lines.size(), before);
  // The card comes back: a matched link on the new connection.
  Card again(link.ServerPort());
  again.Write(HandFrame(kLogin));
  ASSERT_TRUE(WaitFor([&] { return !again.frames.empty(); }));
  EXPECT_EQ(Count("[标签:X] [匹配链接] [序列:1]"), 1);
  EXPECT_TRUE(link.SlotConnected(1));
}

INSTANTIATE_TEST_SUITE_P(ControllerLink, CardGoesAway,
                         ::testing::Values(CloseCase{"orderly", false}, CloseCase{"reset", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ControllerLinkTest, ConnectionThatNeverLoggedInClosesSilently) {
  auto card = std::make_unique<Card>(link.ServerPort());
  ASSERT_TRUE(WaitFor([&] { return link.OpenConnections() == 1; }));
  card->socket.disconnectFromHost();
  ASSERT_TRUE(WaitFor([&] { return link.OpenConnections() == 0; }));
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(ControllerLinkTest, FramesSentJustBeforeTheCloseAreStillHandled) {
  link.BeginDelivery();
  auto card = std::make_unique<Card>(link.ServerPort());
  card->Write(HandFrame(kLogin) + HandFrame(R"({"name":"play"})"));
  card->socket.disconnectFromHost();
  ASSERT_TRUE(WaitFor([&] { return Count("客户端:X 断开连接") == 1; }));
  EXPECT_EQ(Count("标签: X, 名称: N, 发送成功."), 1);
}

TEST_F(ControllerLinkTest, MemoryHeldStaysBoundedUnderAFlood) {
  Card card(link.ServerPort());
  // A legal header announcing a whole megabyte, then far more than that of noise.
  std::string flood = HandFrame("", 2, kMaxFrameLength).substr(0, 32);
  std::string noise(3 * kMaxFrameLength, '\x5A');
  size_t peak = 0;
  QObject::connect(&link, &ControllerLink::BytesHandled,
                   [&] { peak = std::max(peak, link.BufferedBytes()); });
  card.Write(flood);
  for (size_t at = 0; at < noise.size(); at += 256 * 1024) card.Write(noise.substr(at, 256 * 1024));
  ASSERT_TRUE(WaitFor([&] { return CountPrefix("收到:") >= 1 && card.socket.bytesToWrite() == 0; }, 10000));
  ASSERT_TRUE(WaitFor([&] { return link.BufferedBytes() < 32; }, 10000)) << link.BufferedBytes();
  EXPECT_LE(peak, kMaxFrameLength);
  EXPECT_TRUE(link.OpenConnections() == 1);
}

}  // namespace
}  // namespace aqled
