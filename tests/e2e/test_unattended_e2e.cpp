// The window left alone for two slots of the timed delivery: Timer1's ticks on the test's clock
// fetch from the stand-in site, and aqled-cardsim downloads each program from the window's own
// share server and plays it.
#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTimer>

#include "e2e_support.h"
#include "send_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

QDateTime At(int hour, int minute) { return QDateTime(QDate(2024, 3, 5), QTime(hour, minute, 30)); }

struct UnattendedEndToEnd : CardFixture {
  // One tick of Timer1 at `t`; returns once any send it started has ended.
  void Tick(const QDateTime& t) {
    clock.Set(t);
    form->Timer1Timer();
    ASSERT_TRUE(WaitFor([&] { return !form->Sending() && !form->Link().DeliveryInFlight(); }, 30000))
        << ::testing::PrintToString(Lines(*form)) << CardLog();
  }

  std::unique_ptr<TForm1> form;
};

TEST_F(UnattendedEndToEnd, TwoSlotsPutTwoProgramsOnTheCardWithTheReadingsOfTheirTime) {
  const quint16 sharePort = FreePort();
  ConfigFor("http://127.0.0.1:" + std::to_string(sharePort) + "/share/", "sendkind=1\r\nShareServer=1\r\n");
  form = StartSized(128, 64);
  Control<QTimer>(*form, "Timer1")->stop();  // the test ticks
  // The test's clock leaps hours within seconds: the link's idle check would cut the card.
  form->Link().findChild<QTimer*>("PeriodicCheck")->stop();
  ASSERT_NE(form->Share(), nullptr);
  Control<QCheckBox>(*form, "zmcheck")->setChecked(false);

  StartCard(CardsimArgs(form->Link().ServerPort(), "SIM1", "north", 128, 64, folder, 120));
  ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); })) << CardLog();

  // The 08:00 slot: its first tick delivers.
  Tick(At(8, 0));
  ASSERT_TRUE(form->LastSend().has_value());
  ASSERT_EQ(form->LastSend()->state, SendState::kSucceeded)
      << ::testing::PrintToString(Lines(*form)) << CardLog();
  const std::filesystem::path storage = folder / "card-storage" / "share";
  const std::filesystem::path first = storage / "20240305080030_001.bmp";
  ASSERT_TRUE(std::filesystem::exists(first)) << CardLog();
  const std::string firstPicture = ReadAll(first);
  EXPECT_EQ(firstPicture, ReadAll(folder / "file" / "1.bmp"));

  // Station 1's readings change on the site; the ticks within the slot send nothing.
  stationsite::StationSetup changed;
  changed.values = {"清新", "1250", "44", "61", "2024-03-05 09:00"};
  stationsite::ServeStation(site, 1, changed);
  const size_t requestsAfterFirst = site.Requests().size();
  for (QDateTime t = At(8, 10); t < At(10, 0); t = t.addSecs(600)) Tick(t);
  EXPECT_EQ(site.Requests().size(), requestsAfterFirst) << "no fetch between the slots";

  // The 10:00 slot.
  Tick(At(10, 0));
  ASSERT_EQ(form->LastSend()->state, SendState::kSucceeded)
      << ::testing::PrintToString(Lines(*form)) << CardLog();
  EXPECT_EQ(form->LastSend()->started, At(10, 0));
  EXPECT_TRUE(form->LastSend()->automatic);

  const auto lines = Lines(*form);
  EXPECT_EQ(Count(lines, "定时发送: 08:00 时段"), 1u);
  EXPECT_EQ(Count(lines, "定时发送: 10:00 时段"), 1u);
  EXPECT_EQ(Count(lines, "标签: SIM1, 名称: north, 发送成功."), 2u);
  EXPECT_EQ(Count(lines, "获取 祯埠镇 等级 清新 负氧离子 1250 PM2.5 44 臭氧 61 发布时间 2024-03-05 09:00"),
            1u);

  // The card holds both programs; the second carries the new readings, byte for byte as staged.
  const std::filesystem::path second = storage / "20240305100030_001.bmp";
  ASSERT_TRUE(std::filesystem::exists(second)) << CardLog();
  EXPECT_EQ(ReadAll(second), ReadAll(folder / "share" / "001.bmp"));
  EXPECT_NE(ReadAll(second), firstPicture) << "the 10:00 program shows the 09:00 readings";
  for (const char* name : {"ll.xml", "pp.xml", "002.bmp", "003.bmp", "004.bmp"}) {
    EXPECT_EQ(ReadAll(storage / (std::string("20240305100030_") + name)), ReadAll(folder / "share" / name))
        << name;
  }
  // Its screen shows the program it played last.
  const QImage shown = RgbPicture(folder / "card-screen" / "program_001.png");
  ASSERT_EQ(shown.size(), QSize(128, 64)) << CardLog();
  EXPECT_TRUE(shown == RgbPicture(folder / "share" / "001.bmp"));
}

// A card that answers the delivery's last command with a failure: the failure is named, the
// slot is not done, and the next tick delivers again once the card answers "ok".
struct CardFailureCase {
  const char* name;
  const char* sendkind;
  const char* failing;  // the command the card fails once
  const char* screen;   // the first picture the card's screen writes for the route
};
void PrintTo(const CardFailureCase& c, std::ostream* os) { *os << c.name; }

struct CardFailure : UnattendedEndToEnd, ::testing::WithParamInterface<CardFailureCase> {};

TEST_P(CardFailure, IsNamedAndTheNextTickDeliversOnceTheCardAnswersOk) {
  const CardFailureCase& c = GetParam();
  const quint16 sharePort = FreePort();
  ConfigFor("http://127.0.0.1:" + std::to_string(sharePort) + "/share/",
            std::string("sendkind=") + c.sendkind + "\r\nShareServer=1\r\n");
  form = StartSized(128, 64);
  Control<QTimer>(*form, "Timer1")->stop();
  form->Link().findChild<QTimer*>("PeriodicCheck")->stop();
  PublishAt(At(8, 0));
  StartCard(CardsimArgs(form->Link().ServerPort(), "SIM1", "north", 128, 64, folder, 120)
            << "--fail" << c.failing);
  ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); })) << CardLog();

  Tick(At(8, 0));
  ASSERT_EQ(form->LastSend()->state, SendState::kFailed)
      << ::testing::PrintToString(Lines(*form)) << CardLog();
  const std::string failure = std::string("标签: SIM1, 名称: north, ") + c.failing +
                              " 失败: result=fail, message=simulated failure, 发送失败.";
  auto lines = Lines(*form);
  ASSERT_EQ(Count(lines, failure), 1u) << ::testing::PrintToString(lines);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(static_cast<int>(IndexOf(lines, failure))),
            QColor(255, 0, 0));
  EXPECT_EQ(Count(lines, "标签: SIM1, 名称: north, 发送成功."), 0u);
  EXPECT_EQ(Control<StatusLine>(*form, "StatusBar1")->FieldText(1).toStdString(), "上次发送 08:00 自动 失败");
  EXPECT_FALSE(std::filesystem::exists(folder / "card-screen" / c.screen)) << "nothing on the card's screen";

  Tick(At(8, 10));
  ASSERT_EQ(form->LastSend()->state, SendState::kSucceeded)
      << ::testing::PrintToString(Lines(*form)) << CardLog();
  EXPECT_EQ(Control<StatusLine>(*form, "StatusBar1")->FieldText(1).toStdString(), "上次发送 08:10 自动 成功");
  EXPECT_TRUE(RgbPicture(folder / "card-screen" / c.screen) == RgbPicture(folder / "share" / "001.bmp"));
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, CardFailure,
                         ::testing::Values(CardFailureCase{"Play", "1", "play", "program_001.png"},
                                           CardFailureCase{"UpdateDynamic", "2", "UpdateDynamic",
                                                           "dynamic_001.png"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
