// The window left alone: Timer1's ticks on the test's clock start the timed sends against the
// stand-in data site, and a card of the test on loopback answers (or does not).
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "card.h"
#include "send_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

QDateTime At(int hour, int minute, int second = 30) {
  return QDateTime(QDate(2024, 3, 5), QTime(hour, minute, second));
}

struct Unattended : SendFixture {
  void SetUp() override {
    SendFixture::SetUp();
    if (HasFatalFailure()) return;
    Configure("");
  }
  // config.ini with the stand-in site, a share folder in the temporary folder and `setKeys`.
  void Configure(const std::string& setKeys) {
    ConfigFor("http://127.0.0.1:9/share/",
              setKeys.find("sendkind") == std::string::npos ? "sendkind=1\r\n" + setKeys : setKeys);
  }

  // The window with a 96 x 48 area; its own Timer1 is stopped, the test ticks by hand. The
  // link's idle check runs on a real timer against the test's clock, which leaps hours within a
  // second: it is stopped too, or a card that answers every command would be cut as silent.
  void StartWindow() {
    form = StartSized();
    Control<QTimer>(*form, "Timer1")->stop();
    form->Link().findChild<QTimer*>("PeriodicCheck")->stop();
  }
  void CardLogsIn() {
    ASSERT_TRUE(card.LogIn(form->Link().ServerPort(), "CARD"));
    ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); }));
    // The Login answer comes after its wait; the test's log marks start after it.
    ASSERT_TRUE(WaitFor([&] { return !card.Times("Login").empty(); }));
  }

  // One tick of Timer1 at `t`; returns once the send it may have started is over and its
  // delivery has ended, or the card has fallen silent. With `siteFollowsClock` the site first
  // publishes every station at the full hour of `t`, as the real one does.
  void Tick(const QDateTime& t) {
    if (siteFollowsClock) PublishAt(t);
    clock.Set(t);
    form->Timer1Timer();
    Settle();
  }
  void Settle() {
    ASSERT_TRUE(WaitFor(
        [&] { return !form->Sending() && (!form->Link().DeliveryInFlight() || card.answersLeft == 0); },
        20000))
        << ::testing::PrintToString(Lines(*form));
  }
  // Ticks every ten minutes from `from` up to, not including, `to`.
  void TickThrough(const QDateTime& from, const QDateTime& to) {
    for (QDateTime t = from; t < to; t = t.addSecs(600)) {
      // A real card's heartbeat comes every 10 seconds, so at every tick it has just spoken;
      // the link would otherwise cut it as silent once hours pass on the clock.
      clock.Set(t);
      if (form->Link().SlotConnected(1) && card.Heartbeat()) {
        ASSERT_TRUE(WaitFor([&] { return form->Link().Slot(1).lastMessage == t; }));
      }
      Tick(t);
      if (HasFatalFailure()) return;
    }
  }

  // The log lines since the last mark (UTF-8, without time stamps), and the count of a prefix.
  std::vector<std::string> Since() const {
    const auto all = Lines(*form);
    return {all.begin() + static_cast<long>(std::min(mark, all.size())), all.end()};
  }
  void Mark() { mark = Lines(*form).size(); }
  std::vector<std::string> Plays() const {
    std::vector<std::string> out;
    for (const QDateTime& t : card.Times("play")) out.push_back(t.toString("hh:mm:ss").toStdString());
    return out;
  }

  std::unique_ptr<TForm1> form;
  Card card{clock};
  size_t mark = 0;
  bool siteFollowsClock = false;
};

// --- a day ----------------------------------------------------------------------------------

struct DayCase {
  const char* name;
  int dtk;
  const char* setKeys;
  std::vector<std::string> plays;
};
void PrintTo(const DayCase& c, std::ostream* os) { *os << c.name; }

struct ADay : Unattended, ::testing::WithParamInterface<DayCase> {};

TEST_P(ADay, EverySlotGetsOneDeliveryAtItsFirstTick) {
  const DayCase& c = GetParam();
  Configure(c.setKeys);
  siteFollowsClock = true;
  StartWindow();
  Control<QComboBox>(*form, "dtk")->setCurrentIndex(c.dtk);
  CardLogsIn();
  TickThrough(At(0, 0), At(23, 59));
  EXPECT_EQ(Plays(), c.plays);
  // Each delivery downloaded one program and each began with its own line.
  EXPECT_EQ(card.Times("downloadfilefromurl").size(), c.plays.size());
  EXPECT_EQ(card.Times("clearuselessmaterial").size(), c.plays.size());
  if (!c.plays.empty()) {
    ASSERT_TRUE(form->LastSend().has_value());
    EXPECT_TRUE(form->LastSend()->automatic);
    EXPECT_EQ(form->LastSend()->state, SendState::kSucceeded);
  }
}

INSTANTIATE_TEST_SUITE_P(Unattended, ADay,
                         ::testing::Values(DayCase{"EveryTwoHours",
                                                   0,
                                                   "",
                                                   {"00:00:30", "02:00:30", "04:00:30", "06:00:30",
                                                    "08:00:30", "10:00:30", "12:00:30", "14:00:30",
                                                    "16:00:30", "18:00:30", "20:00:30", "22:00:30"}},
                                           DayCase{"EveryThreeHours",
                                                   1,
                                                   "",
                                                   {"00:00:30", "03:00:30", "06:00:30", "09:00:30",
                                                    "12:00:30", "15:00:30", "18:00:30", "21:00:30"}},
                                           DayCase{"SwitchedOff", 0, "AutoSend=0\r\n", {}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Unattended, EveryTimedSendStartsWithItsOwnLine) {
  StartWindow();
  CardLogsIn();
  Mark();
  Tick(At(10, 0));
  const auto lines = Since();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "定时发送: 10:00 时段");
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(static_cast<int>(mark)), QColor(255, 255, 0));
  // Then the road of a manual send, line for line.
  EXPECT_EQ(lines[1].rfind("获取 祯埠镇 ", 0), 0u);
  EXPECT_EQ(IndexOf(lines, "添加 祯埠镇数据 "), 5u);
  EXPECT_LT(IndexOf(lines, "向 [标签: CARD, 名称: card] 发送数据..."), lines.size());
  EXPECT_EQ(lines.back(), "标签: CARD, 名称: card, 发送成功.");
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 4);
  EXPECT_TRUE(dialogs.messages.empty()) << "no confirmation";
  EXPECT_EQ(form->LastSendHour(), "10");
}

TEST_F(Unattended, AManualSendAt1405CountsForThe1400Slot) {
  siteFollowsClock = true;
  StartWindow();
  CardLogsIn();
  PublishAt(At(14, 5, 0));
  clock.Set(At(14, 5, 0));
  dialogs.confirm = true;
  Control<QPushButton>(*form, "Button14")->click();
  Settle();
  ASSERT_EQ(Plays(), std::vector<std::string>{"14:05:00"});
  EXPECT_FALSE(form->LastSend()->automatic);
  TickThrough(At(14, 8), At(16, 20));
  EXPECT_EQ(Plays(), (std::vector<std::string>{"14:05:00", "16:08:30"}));
}

// The site publishes every station at the hour of the test's clock, with readings of that hour;
// station 2 fails from 10:00 to 14:00. Slots every three hours (09:00, 12:00, 15:00), so that
// what happens between them is the refresh's doing. With MaxDataAge=2 station 2's 09:00
// readings stay on air until they pass 11:00, then only the other three are shown, until
// station 2 answers again.
TEST_F(Unattended, AStationDownFrom1000To1400StaysOnAirWithinItsAgeAndComesBack) {
  Configure("MaxDataAge=2\r\n");
  StartWindow();
  // Room for the readings on the page, so that pages with other readings differ.
  Control<SpinEdit>(*form, "dtw")->SetValue(576);
  Control<SpinEdit>(*form, "dth")->SetValue(336);
  Control<QComboBox>(*form, "dtk")->setCurrentIndex(1);
  CardLogsIn();
  // What each delivery put on the card: per play, the station pages staged for it, told apart
  // by their bytes.
  std::vector<std::string> programs;
  size_t plays = 0;
  auto recordPrograms = [&] {
    if (card.Times("play").size() == plays) return;
    plays = card.Times("play").size();
    std::string stations;
    for (int i = 1; i <= 4; ++i) {
      const auto staged = folder / "share" / QString::asprintf("%03d.bmp", i).toStdString();
      if (!std::filesystem::exists(staged)) break;
      const std::string bytes = ReadBytes(staged);
      for (int n = 1; n <= 4; ++n) {
        if (bytes == ReadBytes(folder / "file" / (std::to_string(n) + ".bmp"))) stations += char('0' + n);
      }
    }
    programs.push_back(clock.Now().toString("hh:mm ").toStdString() + stations);
  };
  for (QDateTime t = At(9, 0); t < At(14, 31); t = t.addSecs(600)) {
    for (int n = 1; n <= 4; ++n) {
      stationsite::PageValues values = SiteValues(n);
      // Each station has readings of its own and of the hour, so that every page differs from
      // the other stations' and from its own of the hour before.
      values.pm25 = std::to_string(n * 100 + t.time().hour());
      values.publishTime = t.toString("yyyy-MM-dd hh:00").toStdString();
      stationsite::StationSetup setup;
      setup.values = values;
      const bool down = n == 2 && t >= At(10, 0) && t < At(14, 0);
      stationsite::ServeStation(site, n,
                                down ? stationsite::FailingSetup(503, "Service Unavailable") : setup);
    }
    clock.Set(t);
    if (card.Heartbeat()) {
      ASSERT_TRUE(WaitFor([&] { return form->Link().Slot(1).lastMessage == t; }));
    }
    Tick(t);
    if (HasFatalFailure()) return;
    recordPrograms();
  }
  EXPECT_EQ(programs, (std::vector<std::string>{
                          "09:00 1234",  // the 09:00 slot: all four current
                          "11:00 134",   // 09:00 readings passed MaxDataAge: station 2 comes off
                          "12:00 134",   // the 12:00 slot
                          "13:00 134",   // the others published anew, station 2 still down
                          "14:00 1234",  // the site answers again: back at the first tick
                      }));
  // From 11:00 to 13:50 every tick fetched again and judged the kept readings anew (the daily
  // file holds every line; the screen only the last 200).
  const std::string file = ReadBytes(folder / "log" / "Log20240305.txt");
  const std::string stale = G("不添加 石门洞数据: 数据已过期 (超过 2 小时), 发布时间 2024-03-05 09:00\r\n");
  size_t count = 0;
  for (size_t at = file.find(stale); at != std::string::npos; at = file.find(stale, at + 1)) ++count;
  EXPECT_EQ(count, 18u);
}

TEST_F(Unattended, ACardSilentAfterTheCleanUpStallsAndIsServedOnceItAnswersAgain) {
  StartWindow();
  CardLogsIn();
  card.answersLeft = 1;  // the clean-up, then nothing
  Mark();
  Tick(At(10, 0));
  EXPECT_TRUE(form->Link().DeliveryInFlight());
  EXPECT_EQ(form->LastSend()->state, SendState::kDelivering);
  const std::string stall = "标签: CARD, 名称: card, 10 分钟内未完成节目发送, 发送失败.";
  EXPECT_EQ(Count(Since(), stall), 0u);
  // Nine minutes on the link's own check finds nothing yet.
  clock.Set(At(10, 9));
  form->Link().CheckDeliveryDeadline();
  EXPECT_EQ(Count(Since(), stall), 0u);

  Tick(At(10, 10));  // ten minutes after the start: the stall line, and the slot is tried again
  // The silent card has taken the second clean-up off the wire before it answers again.
  ASSERT_TRUE(WaitFor([&] { return card.Times("clearuselessmaterial").size() == 2; }));
  auto lines = Since();
  ASSERT_EQ(Count(lines, stall), 1u);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(static_cast<int>(mark + IndexOf(lines, stall))),
            QColor(255, 0, 0));
  EXPECT_LT(IndexOf(lines, stall), IndexOf(lines, "定时发送: 10:00 时段", IndexOf(lines, stall)));
  EXPECT_TRUE(Plays().empty());

  card.answersLeft = -1;  // the card is back
  Tick(At(10, 20));
  EXPECT_EQ(Count(Since(), stall), 2u) << "the attempt made while it was silent";
  EXPECT_EQ(Plays(), std::vector<std::string>{"10:20:30"});
  EXPECT_EQ(form->LastSend()->state, SendState::kSucceeded);
  EXPECT_EQ(Count(Since(), "标签: CARD, 名称: card, 发送成功."), 1u);
}

TEST_F(Unattended, ACardThatGoesDuringADeliveryFailsItAtOnceAndIsServedWhenItIsBack) {
  StartWindow();
  CardLogsIn();
  card.answersLeft = 1;  // the clean-up, then the card goes
  card.hangUpWhenSilent = true;
  Mark();
  Tick(At(10, 0));
  ASSERT_TRUE(WaitFor([&] { return !form->Link().DeliveryInFlight(); }))
      << ::testing::PrintToString(Lines(*form));
  const std::string lost = "标签: CARD, 名称: card, 发送中连接断开, 发送失败.";
  auto lines = Since();
  ASSERT_EQ(Count(lines, lost), 1u) << ::testing::PrintToString(lines);
  EXPECT_LT(IndexOf(lines, "客户端:CARD 断开连接"), IndexOf(lines, lost));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(static_cast<int>(mark + IndexOf(lines, lost))),
            QColor(255, 0, 0));
  EXPECT_EQ(form->LastSend()->state, SendState::kFailed) << "not left waiting for the ten-minute stall";
  EXPECT_TRUE(Plays().empty());

  // Back before the next tick: the slot is delivered then.
  card.answersLeft = -1;
  card.hangUpWhenSilent = false;
  CardLogsIn();
  Tick(At(10, 10));
  EXPECT_EQ(Plays(), std::vector<std::string>{"10:10:30"});
  EXPECT_EQ(form->LastSend()->state, SendState::kSucceeded);
  EXPECT_EQ(Count(Since(), "10 分钟内未完成节目发送"), 0u);
}

TEST_F(Unattended, AFailureStatusEndsTheDeliveryAndTheNextTickTriesAgain) {
  StartWindow();
  CardLogsIn();
  card.progressStatus = "failed";
  Mark();
  Tick(At(10, 0));
  EXPECT_EQ(Count(Since(), "标签: CARD, 名称: card, 下载状态: FAILED, 发送失败."), 1u);
  EXPECT_TRUE(Plays().empty());
  EXPECT_EQ(form->LastSend()->state, SendState::kFailed);
  EXPECT_FALSE(form->Link().DeliveryInFlight());
  card.progressStatus = "complete";
  Tick(At(10, 10));
  EXPECT_EQ(Plays(), std::vector<std::string>{"10:10:30"});
}

TEST_F(Unattended, WithoutACardTheSlotSaysSoOnceAndFetchesNothing) {
  StartWindow();
  Mark();
  Tick(At(10, 0));
  Tick(At(10, 10));
  EXPECT_EQ(Since(), std::vector<std::string>{"定时发送: 10:00 时段没有已登录的控制卡, 暂不发送"});
  EXPECT_TRUE(site.Requests().empty());
  CardLogsIn();
  Tick(At(10, 20));
  EXPECT_EQ(Plays(), std::vector<std::string>{"10:20:30"});
}

TEST_F(Unattended, ADynamicAreaEndsWithItsAnswerOrStallsAfterTwoMinutes) {
  Configure("sendkind=2\r\n");
  StartWindow();
  CardLogsIn();
  Tick(At(10, 0));
  EXPECT_EQ(card.Times("UpdateDynamic").size(), 1u);
  EXPECT_EQ(form->LastSend()->state, SendState::kSucceeded);

  card.answersLeft = 0;
  Mark();
  Tick(At(12, 0));
  EXPECT_EQ(form->LastSend()->state, SendState::kDelivering);
  clock.Set(At(12, 2));
  form->Link().CheckDeliveryDeadline();
  EXPECT_EQ(Since().back(), "标签: CARD, 名称: card, 2 分钟内未收到动态区应答, 发送失败.");
  EXPECT_EQ(form->LastSend()->state, SendState::kStalled);
}

// --- one send at a time ---------------------------------------------------------------------

TEST_F(Unattended, AManualSendDuringATimedOneIsRefusedAndViceVersa) {
  StartWindow();
  CardLogsIn();
  dialogs.confirm = true;
  const std::string refused = "上一次发送尚未结束, 本次发送未执行.";
  // `during` runs once, when the site gets the request for station 2: the send's fetch waits.
  std::function<void()> during;
  QObject::connect(&site, &stationsite::StationSite::requestReceived, form.get(),
                   [&](const QByteArray&, const QString& path) {
                     if (!during || !path.endsWith("63f8c09c64024cfaae367e84ff0dce7d")) return;
                     auto run = std::move(during);
                     during = nullptr;
                     run();
                   });

  // A click during the timed send's fetch.
  bool clicked = false;
  during = [&] {
    clicked = form->Sending();
    Control<QPushButton>(*form, "Button14")->click();
  };
  Mark();
  Tick(At(10, 0));
  ASSERT_TRUE(clicked);
  EXPECT_EQ(Count(Since(), refused), 1u);
  EXPECT_EQ(Control<StatusLine>(*form, "StatusBar1")->currentMessage().toStdString(), refused)
      << "shown where the operator looks";
  EXPECT_EQ(dialogs.messages.size(), 0u) << "the refused click asks nothing";
  EXPECT_EQ(Plays(), std::vector<std::string>{"10:00:30"});

  // The first tick of the 12:00 slot during a manual send made late in the 10:00 slot.
  clock.Set(At(11, 58));
  bool ticked = false;
  during = [&] {
    ticked = form->Sending();
    clock.Set(At(12, 0));
    form->Timer1Timer();
  };
  Mark();
  Control<QPushButton>(*form, "Button14")->click();
  Settle();
  ASSERT_TRUE(ticked);
  EXPECT_EQ(Count(Since(), refused), 1u);
  EXPECT_EQ(Count(Since(), "定时发送: "), 0u);
  EXPECT_EQ(Plays(), (std::vector<std::string>{"10:00:30", "12:00:30"})) << "the manual send, clock moved";
  // The manual send began in the 10:00 slot; the 12:00 slot still wants its own.
  Tick(At(12, 10));
  EXPECT_EQ(Plays().size(), 3u);
}

TEST_F(Unattended, AConfirmationLeftOpenDoesNotHoldUpTheTimedSend) {
  StartWindow();
  CardLogsIn();
  dialogs.confirm = false;  // the operator cancels in the end
  dialogs.whileConfirming = [&] { Tick(At(10, 0)); };
  Control<QPushButton>(*form, "Button14")->click();
  EXPECT_EQ(Plays(), std::vector<std::string>{"10:00:30"});
  EXPECT_TRUE(form->LastSend()->automatic);
  EXPECT_EQ(Count(Lines(*form), "上一次发送尚未结束"), 0u);

  // Confirmed after a timed send that ran while the box was open, the manual send runs too.
  dialogs.confirm = true;
  dialogs.whileConfirming = [&] { Tick(At(12, 0)); };
  Control<QPushButton>(*form, "Button14")->click();
  Settle();
  EXPECT_EQ(Plays(), (std::vector<std::string>{"10:00:30", "12:00:30", "12:00:30"}));
  EXPECT_FALSE(form->LastSend()->automatic);
}

// --- only truthful readings on air ----------------------------------------------------------

struct Readings : Unattended {
  // Station `n` prints `values` instead of its usual readings.
  void Print(int n, stationsite::PageValues values) {
    stationsite::StationSetup setup;
    setup.values = std::move(values);
    stationsite::ServeStation(site, n, setup);
  }
  // The pictures of the program the card was told to download: the staged files' count.
  int StagedPictures() const {
    int n = 0;
    for (char name[16]; std::snprintf(name, sizeof name, "%03d.bmp", n + 1),
                        std::filesystem::exists(folder / "share" / name);) {
      ++n;
    }
    return n;
  }
};

TEST_F(Readings, AnEmptyReadingLeavesTheStationOutWithALine) {
  Print(3, {"一般", "980", "", "110", "2024-03-05 08:00"});
  StartWindow();
  CardLogsIn();
  Mark();
  Tick(At(10, 0));
  const auto lines = Since();
  EXPECT_EQ(Count(lines, "不添加 小舟山数据: PM2.5或臭氧数据为空"), 1u);
  EXPECT_EQ(Control<LogView>(*form, "log")
                ->LineColour(static_cast<int>(mark + IndexOf(lines, "不添加 小舟山数据"))),
            QColor(255, 0, 0));
  EXPECT_EQ(Count(lines, "添加 小舟山数据"), 0u);
  EXPECT_EQ(form->PictureList().find("file/3.bmp"), std::string::npos);
  EXPECT_EQ(StagedPictures(), 3);
  EXPECT_EQ(Plays().size(), 1u) << "the other stations go on air";
}

TEST_F(Readings, WithNoReadingFitToShowTheCardGetsTheNoticeUntilReadingsReturn) {
  // Stations 1 and 3 print dashes, 2 and 4 readings of the day before.
  for (int n = 1; n <= 4; ++n) {
    Print(n, {"清新", "560", n % 2 ? "-" : "30", "80", n % 2 ? "2024-03-05 08:00" : "2024-03-04 08:00"});
  }
  StartWindow();
  CardLogsIn();
  Mark();
  Tick(At(10, 0));
  auto lines = Since();
  const std::string notice =
      "没有可以显示的数据, 发送提示页 \"空气质量数据更新中\" " + appFolder + "file/notice.bmp";
  ASSERT_EQ(Count(lines, notice), 1u) << ::testing::PrintToString(lines);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(static_cast<int>(mark + IndexOf(lines, notice))),
            QColor(255, 0, 0));
  // The card got one picture, the notice page at the send's area, with its text on it.
  ASSERT_EQ(Plays().size(), 1u);
  ASSERT_EQ(StagedPictures(), 1);
  EXPECT_EQ(ReadBytes(folder / "share" / "001.bmp"), ReadBytes(folder / "file" / "notice.bmp"));
  const QImage page(QString::fromStdString((folder / "share" / "001.bmp").string()));
  ASSERT_EQ(page.size(), QSize(96, 48));
  int lit = 0;
  for (int y = 0; y < page.height(); ++y)
    for (int x = 0; x < page.width(); ++x) lit += page.pixelColor(x, y) != QColor(Qt::black);
  EXPECT_GT(lit, 20) << "the text is drawn";
  EXPECT_EQ(Control<StatusLine>(*form, "StatusBar1")->FieldText(1).toStdString(),
            "上次发送 10:00 自动 成功 (提示页)");

  // The slot still wants its readings: the next tick fetches again, and sends nothing new.
  Mark();
  Tick(At(10, 10));
  lines = Since();
  EXPECT_EQ(Count(lines, "定时发送: 10:00 时段"), 1u);
  EXPECT_EQ(Count(lines, "节目内容没有变化, 不重复发送."), 1u);
  EXPECT_EQ(Plays().size(), 1u);
  // Readings again: the tick after puts them on air.
  for (int n = 1; n <= 4; ++n) Print(n, {"清新", "560", "30", "80", "2024-03-05 10:00"});
  Tick(At(10, 20));
  EXPECT_EQ(Plays().size(), 2u);
  EXPECT_EQ(StagedPictures(), 4);
  Tick(At(10, 30));
  EXPECT_EQ(Plays().size(), 2u) << "the slot is done";
}

TEST_F(Readings, APageWithoutAnyReadingIsAFailedStation) {
  stationsite::Answer maintenance;
  maintenance.body = "<html><body>Wartungsarbeiten</body></html>";
  site.SetAnswer("/zjqxkqfb/site/24e8f36a598a4a8ea1d3a92c42e192fd", maintenance);
  StartWindow();
  CardLogsIn();
  Mark();
  Tick(At(10, 0));
  const auto lines = Since();
  EXPECT_EQ(
      Count(lines,
            "获取 [" + site.Base() +
                "/zjqxkqfb/site/24e8f36a598a4a8ea1d3a92c42e192fd] 数据失败 错误代码: 页面中没有找到任何数据"),
      1u);
  EXPECT_EQ(Count(lines, "添加 小舟山数据"), 0u) << "no blank page on air";
  EXPECT_EQ(StagedPictures(), 3);
  EXPECT_EQ(Control<StatusLine>(*form, "StatusBar1")->FieldText(3).toStdString(),
            "上次获取 10:00 3/4, 1 失败");
}

TEST_F(Readings, StaleReadingsAreLeftOutWithTheirPublishTime) {
  Print(4, {"清新", "560", "30", "80", "2024-03-05 03:00"});
  Print(1, {"清新", "1250", "18", "96", "昨天"});
  StartWindow();
  CardLogsIn();
  Mark();
  Tick(At(10, 0));
  const auto lines = Since();
  EXPECT_EQ(Count(lines, "不添加 千峡湖数据: 数据已过期 (超过 6 小时), 发布时间 2024-03-05 03:00"), 1u);
  EXPECT_EQ(Count(lines, "添加 千峡湖数据"), 0u);
  EXPECT_EQ(Count(lines, "添加 祯埠镇数据"), 1u) << "a time that is no date is not judged";
  EXPECT_EQ(StagedPictures(), 3);

  // With MaxDataAge=0 nothing is judged.
  Configure("MaxDataAge=0\r\n");
  form.reset();
  StartWindow();
  Card second(clock);
  ASSERT_TRUE(second.LogIn(form->Link().ServerPort(), "CARD2"));
  ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); }));
  Mark();
  Tick(At(12, 0));
  EXPECT_EQ(Count(Since(), "添加 千峡湖数据"), 1u);
  EXPECT_EQ(second.Times("play").size(), 1u);
}

TEST_F(Readings, AZeroAreaTakesTheCardsScreenOrStopsWithoutOne) {
  StartWindow();
  Control<SpinEdit>(*form, "dtw")->SetValue(0);
  Control<SpinEdit>(*form, "dth")->SetValue(0);
  dialogs.confirm = true;
  Mark();
  Control<QPushButton>(*form, "Button14")->click();
  auto lines = Since();
  EXPECT_EQ(Count(lines, "显示区域的宽度或高度为0, 又没有已登录的控制卡提供屏幕大小, 本次发送未执行."), 1u);
  EXPECT_EQ(Count(lines, "添加 "), 0u);
  EXPECT_FALSE(std::filesystem::exists(folder / "file" / "1.bmp"));

  ASSERT_TRUE(card.LogIn(form->Link().ServerPort(), "CARD", 128, 64));
  ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); }));
  Mark();
  Tick(At(10, 0));
  lines = Since();
  EXPECT_EQ(Count(lines, "显示区域 0 x 0, 本次发送使用控制卡屏幕大小 128 x 64"), 1u);
  EXPECT_EQ(QImage(QString::fromStdString((folder / "file" / "1.bmp").string())).size(), QSize(128, 64));
  EXPECT_EQ(QImage(QString::fromStdString((folder / "share" / "001.bmp").string())).size(), QSize(128, 64));
  EXPECT_EQ(Plays().size(), 1u);
}

TEST_F(Readings, ACardThatReportsNoScreenIsNotTakenForAMissingOne) {
  StartWindow();
  Control<SpinEdit>(*form, "dtw")->SetValue(0);
  ASSERT_TRUE(card.LogIn(form->Link().ServerPort(), "CARD", 0, 0));
  ASSERT_TRUE(WaitFor([&] { return !card.Times("Login").empty(); }));
  Mark();
  Tick(At(10, 0));
  EXPECT_EQ(Count(Since(), "显示区域的宽度或高度为0, 已登录的控制卡报告的屏幕大小也为0, 本次发送未执行."), 1u)
      << ::testing::PrintToString(Since());
  EXPECT_TRUE(Plays().empty());
}

TEST_F(Readings, ThePreviewOfAZeroAreaShowsTheCardsScreenOrSaysWhyNot) {
  StartWindow();
  Control<SpinEdit>(*form, "dtw")->SetValue(0);
  Mark();
  Control<QPushButton>(*form, "Button11")->click();
  const std::string none = "显示区域的宽度或高度为0, 又没有已登录的控制卡提供屏幕大小, 无法预览.";
  EXPECT_EQ(Since(), std::vector<std::string>{none});
  ASSERT_EQ(dialogs.messages.size(), 1u) << "the operator at the button is told";
  EXPECT_EQ(U(dialogs.messages[0]), none);
  EXPECT_TRUE(viewer.opened.empty());
  EXPECT_FALSE(std::filesystem::exists(folder / "file" / "g.bmp"));

  ASSERT_TRUE(card.LogIn(form->Link().ServerPort(), "CARD", 128, 64));
  ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); }));
  Mark();
  Control<QPushButton>(*form, "Button11")->click();
  EXPECT_EQ(Count(Since(), "显示区域 0 x 48, 预览使用控制卡屏幕大小 128 x 48"), 1u)
      << ::testing::PrintToString(Since());
  ASSERT_EQ(viewer.opened.size(), 1u);
  EXPECT_EQ(QImage(QString::fromStdString((folder / "file" / "g.bmp").string())).size(), QSize(128, 48))
      << "the card gives the side that is 0";
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

// --- the status line ------------------------------------------------------------------------

TEST_F(Unattended, TheStatusLineFollowsWhatHappens) {
  StartWindow();
  // Only events update it here: its seconds timer is stopped.
  auto* seconds = form->findChild<QTimer*>("StatusTimer");
  ASSERT_NE(seconds, nullptr);
  seconds->stop();
  auto* status = Control<StatusLine>(*form, "StatusBar1");
  ASSERT_EQ(status->objectName(), "StatusBar1");
  EXPECT_EQ(status->FieldText(0).toStdString(), "控制卡: 未登录");
  EXPECT_EQ(status->FieldText(1).toStdString(), "上次发送: 无");
  EXPECT_EQ(status->FieldText(3).toStdString(), "上次获取: 无");
  CardLogsIn();
  EXPECT_EQ(status->FieldText(0).toStdString(), "控制卡 CARD (card) 已连接, 0秒前");
  Tick(At(10, 0));
  EXPECT_EQ(status->FieldText(1).toStdString(), "上次发送 10:00 自动 成功");
  EXPECT_EQ(status->FieldText(2).toStdString(), "下次定时 12:00");
  EXPECT_EQ(status->FieldText(3).toStdString(), "上次获取 10:00 4/4");
  Control<QComboBox>(*form, "dtk")->setCurrentIndex(1);
  EXPECT_EQ(status->FieldText(2).toStdString(), "下次定时 12:00") << "10:00 lies in the 09:00 slot";
  clock.Set(At(12, 5));
  Control<QComboBox>(*form, "dtk")->setCurrentIndex(0);
  EXPECT_EQ(status->FieldText(2).toStdString(), "12:00 时段待发送");

  form->ShowStatusMessage(G("一条消息"));
  EXPECT_EQ(status->currentMessage().toStdString(), "一条消息");
}

// A 30-character tag and a 20-character name, as some sites name their screens: the card field
// gives way, the other three show whole. With AQLED_DEMO_SCREENSHOTS=<folder> the line is saved
// there as status_long_card.png.
TEST_F(Unattended, ALongCardGivesWayAndTheOtherFieldsStayWhole) {
  form = StartSized();
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const std::string tag = "ZJ-LISHUI-QINGTIAN-LED-0001234";
  const std::string name = "丽水市青田县温溪镇游客中心广场东侧大屏幕";
  ASSERT_EQ(tag.size(), 30u);
  ASSERT_EQ(QString::fromStdString(name).size(), 20);
  ASSERT_TRUE(card.LogIn(form->Link().ServerPort(), tag, 96, 48, name));
  ASSERT_TRUE(WaitFor([&] { return !card.Times("Login").empty(); }));
  Tick(At(10, 0));
  auto* status = Control<StatusLine>(*form, "StatusBar1");
  QApplication::processEvents();
  for (const char* field : {"StatusSend", "StatusSchedule", "StatusFetch"}) {
    const auto* label = Control<QLabel>(*form, field);
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << field;
    EXPECT_LE(label->geometry().right(), status->width()) << field;
  }
  const auto* cardField = Control<QLabel>(*form, "StatusCard");
  EXPECT_LT(cardField->width(), cardField->fontMetrics().horizontalAdvance(cardField->text()))
      << "it gave way";
  EXPECT_NE(status->FieldTip(0).toStdString().find(tag + " (" + name + ")"), std::string::npos);
  const QString copies = qEnvironmentVariable("AQLED_DEMO_SCREENSHOTS");
  if (!copies.isEmpty()) {
    EXPECT_TRUE(form->grab(QRect(0, form->height() - 120, form->width(), 120))
                    .save(copies + "/status_long_card.png"));
  }
}

TEST_F(Unattended, TheStatusLineSaysWhenTheTimedDeliveryIsOff) {
  Configure("AutoSend=0\r\n");
  StartWindow();
  EXPECT_EQ(Control<StatusLine>(*form, "StatusBar1")->FieldText(2).toStdString(), "定时发送关闭");
}

}  // namespace
