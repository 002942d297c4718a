// Several screens from one window: three aqled-cardsim on loopback, two with a screen of one
// size and one of another, each with its own conversation; the window's display area is 0, so
// each card gets pictures of its own size from the window's share server.
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <nlohmann/json.hpp>

#include "e2e_support.h"
#include "send_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

struct SimCard {
  std::string tag, name;
  int width, height;
  QStringList extra;  // more arguments
};

struct CardsEndToEnd : CardFixture {
  void TearDown() override {
    for (auto& p : cards) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();
        p->waitForFinished(2000);
      }
    }
    CardFixture::TearDown();
  }

  // The window for `maxCards` cards with its share server; area `w` x `h` (0: each card's own).
  void StartWindow(int w, int h, int maxCards = 3) {
    sharePort = FreePort();
    ConfigFor("http://127.0.0.1:" + std::to_string(sharePort) + "/share/",
              "sendkind=1\r\nShareServer=1\r\nMaxCards=" + std::to_string(maxCards) + "\r\n");
    form = StartSized(w, h);
    Control<QTimer>(*form, "Timer1")->stop();  // the test ticks
    ASSERT_NE(form->Share(), nullptr);
  }
  // Starts the cards and returns once each holds its slot and has been sent its Login answer.
  void StartCards(const std::vector<SimCard>& sims) {
    for (const SimCard& sim : sims) {
      cards.push_back(std::make_unique<QProcess>());
      QProcess& p = *cards.back();
      p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
      p.start(BuiltProgram("aqled-cardsim"),
              CardsimArgs(form->Link().ServerPort(), QString::fromStdString(sim.tag),
                          QString::fromStdString(sim.name), sim.width, sim.height, folder / sim.tag, 60) +
                  sim.extra);
      ASSERT_TRUE(p.waitForStarted(5000));
      ASSERT_TRUE(WaitFor([&] {
        return Count(Lines(*form), "标签: " + sim.tag + ", 名称: " + sim.name + ", 回复登录") == 1;
      })) << ::testing::PrintToString(Lines(*form));
    }
    ASSERT_TRUE(WaitFor([&] { return Count(Lines(*form), R"(发送:{"name":"Login")") == cards.size(); }));
  }
  void ConfirmedSend() {
    dialogs.confirm = true;
    Control<QPushButton>(*form, "Button14")->click();
  }
  // Waits until every card's delivery of the send has ended.
  void WaitForTheSend() {
    ASSERT_TRUE(WaitFor([&] { return !form->Sending() && !form->Link().DeliveryInFlight(); }, 30000))
        << ::testing::PrintToString(Lines(*form));
  }
  // The lines of card `tag` from its send on, each cut to the part the conversation fixes.
  std::vector<std::string> Conversation(const std::string& tag, const std::string& name) {
    const std::string who = "标签: " + tag + ", 名称: " + name + ", ";
    std::vector<std::string> out;
    for (const std::string& line : Lines(*form)) {
      if (line == "向 [标签: " + tag + ", 名称: " + name + "] 发送数据...") out.push_back("send");
      if (line.rfind(who, 0) != 0 || out.empty()) continue;
      const std::string rest = line.substr(who.size());
      // The download id and the states of the download are the card's.
      if (rest.rfind("下载状态: ", 0) == 0) continue;
      out.push_back(rest.rfind("下载ID: ", 0) == 0 ? "下载ID" : rest);
    }
    return out;
  }
  // The staged files of one size in the share folder.
  QStringList Staged(const QString& prefix) const {
    return QDir(QString::fromStdString((folder / "share").string()))
        .entryList({prefix + "*"}, QDir::Files, QDir::Name);
  }

  std::unique_ptr<TForm1> form;
  std::vector<std::unique_ptr<QProcess>> cards;
  quint16 sharePort = 0;
};

const std::vector<std::string> kOneCardConversation = {"send", "正在发送下载指令...", "下载ID",
                                                       "下载完毕, 正在发送播放指令...", "发送成功."};

TEST_F(CardsEndToEnd, OneSendPutsPicturesOfItsOwnSizeOnEachCardsScreen) {
  StartWindow(0, 0);
  const std::vector<SimCard> sims = {
      {"A", "a", 128, 64, {}}, {"B", "b", 96, 48, {}}, {"C", "c", 128, 64, {}}};
  StartCards(sims);
  ConfirmedSend();
  ASSERT_FALSE(dialogs.messages.empty());
  EXPECT_EQ(U(dialogs.messages.back()), "向 标签[ A, B, C ]LED屏发送节目,继续请确认.");
  WaitForTheSend();
  ASSERT_EQ(form->LastSend()->state, SendState::kSucceeded) << ::testing::PrintToString(Lines(*form));
  EXPECT_EQ(form->LastSend()->played, 3);

  // One set staged per size, nothing under the one-size names.
  const QStringList large = Staged("128x64_"), small = Staged("96x48_");
  ASSERT_GE(large.size(), 2 + 4);  // ll.xml, pp.xml and the station pages
  EXPECT_EQ(large.size(), small.size());
  EXPECT_TRUE(Staged("0").isEmpty());
  EXPECT_FALSE(std::filesystem::exists(folder / "share" / "ll.xml"));
  const int pictures = static_cast<int>(large.size()) - 2;

  for (const SimCard& sim : sims) {
    SCOPED_TRACE(sim.tag);
    EXPECT_EQ(Conversation(sim.tag, sim.name), kOneCardConversation);
    const std::string prefix = std::to_string(sim.width) + "x" + std::to_string(sim.height) + "_";
    for (int k = 1; k <= pictures; ++k) {
      char name[16];
      std::snprintf(name, sizeof name, "%03d", k);
      const QImage shown =
          RgbPicture(folder / sim.tag / "card-screen" / ("program_" + std::string(name) + ".png"));
      const QImage staged = RgbPicture(folder / "share" / (prefix + name + ".bmp"));
      ASSERT_EQ(shown.size(), QSize(sim.width, sim.height)) << k;
      EXPECT_TRUE(shown == staged) << k;
    }
    // The card fetched its own size's files only, stored under the usual names.
    for (const auto& entry :
         std::filesystem::directory_iterator(folder / sim.tag / "card-storage" / "share")) {
      const std::string stored = entry.path().filename().string();
      const std::string staged = prefix + stored.substr(stored.find('_') + 1);
      EXPECT_EQ(ReadAll(entry.path()), ReadAll(folder / "share" / staged)) << stored;
    }
  }
  // The status shows the pictures of a size a card played, each as staged under its size's name.
  const QString base = "http://127.0.0.1:" + QString::number(sharePort);
  const HttpAnswer status = HttpGet(base + "/status.json");
  ASSERT_EQ(status.status, 200);
  const nlohmann::json onAir = nlohmann::json::parse(status.body.toStdString())["on_air"];
  ASSERT_EQ(onAir["pictures"].size(), static_cast<size_t>(pictures));
  for (const auto& picture : onAir["pictures"]) {
    const std::string url = picture["url"];
    EXPECT_TRUE(url.find("/share/128x64_") == 0 || url.find("/share/96x48_") == 0) << url;
    const HttpAnswer served = HttpGet(base + QString::fromStdString(url));
    EXPECT_EQ(served.status, 200) << url;
    EXPECT_EQ(served.body.toStdString(),
              ReadAll(folder / "share" / url.substr(std::string("/share/").size())));
  }
  // Each card is measured from afar under its slot and named by its tag.
  const HttpAnswer metrics = HttpGet(base + "/metrics");
  ASSERT_EQ(metrics.status, 200);
  for (int k = 1; k <= 3; ++k) {
    const std::string slot = "{card=\"" + std::to_string(k) + "\"";
    EXPECT_TRUE(metrics.body.contains("\naqled_card_connected" + slot + "} 1\n")) << k;
    EXPECT_TRUE(metrics.body.contains("\naqled_card_info" + slot + ",tag=\"" + sims[k - 1].tag + "\",")) << k;
  }
}

TEST_F(CardsEndToEnd, ACardThatFailsOrComesLateIsServedAloneAtTheNextTick) {
  StartWindow(128, 64, 4);
  StartCards({{"A", "a", 128, 64, {}}, {"B", "b", 128, 64, {"--fail", "play"}}, {"C", "c", 128, 64, {}}});
  ConfirmedSend();
  WaitForTheSend();
  ASSERT_EQ(form->LastSend()->state, SendState::kFailed);
  EXPECT_EQ(form->LastSend()->played, 2);
  EXPECT_EQ(form->LastSend()->cards, 3);
  EXPECT_EQ(Count(Lines(*form), "标签: B, 名称: b, play 失败: result=fail"), 1u);
  // Sends to each card, counted by its tag.
  const auto sends = [&](const std::string& tag) {
    const std::string name = QString::fromStdString(tag).toLower().toStdString();
    return Count(Lines(*form), "向 [标签: " + tag + ", 名称: " + name + "] 发送数据...");
  };
  struct Step {
    const char* name;
    std::vector<SimCard> logIn;  // cards that log in before the tick
    std::vector<size_t> sends;   // to A, B, C, D after it
  };
  const Step steps[] = {
      {"the failing card alone", {}, {1, 2, 1, 0}},
      {"the card that came in the slot alone", {{"D", "d", 128, 64, {}}}, {1, 2, 1, 1}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    StartCards(step.logIn);
    clock.Advance(60000);
    form->Timer1Timer();
    WaitForTheSend();
    EXPECT_EQ(form->LastSend()->state, SendState::kSucceeded) << ::testing::PrintToString(Lines(*form));
    EXPECT_EQ(form->LastSend()->cards, 1);
    EXPECT_EQ((std::vector<size_t>{sends("A"), sends("B"), sends("C"), sends("D")}), step.sends);
  }
}

}  // namespace
