// A confirmed send from the window to aqled-cardsim: the station pages come from the stand-in
// site, the card downloads the program from the window's own share server and shows it.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>

#include "e2e_support.h"
#include "send_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

struct EndToEnd : CardFixture {
  // The window with its share server on a free port and a 128 x 64 display area; the station
  // pages, the text page and one advertisement make six pictures.
  void StartWindow(const std::string& sendkind) {
    sharePort = FreePort();
    ConfigFor("http://127.0.0.1:" + std::to_string(sharePort) + "/share/",
              "sendkind=" + sendkind + "\r\nShareServer=1\r\n");
    form = StartSized(128, 64);
    ASSERT_NE(form->Share(), nullptr);
    const std::vector<std::string> lines = Lines(*form);
    ASSERT_GE(lines.size(), 2u);
    ASSERT_EQ(lines[lines.size() - 2], "共享服务启动成功: " + std::to_string(sharePort));
    ASSERT_EQ(lines.back(), "共享服务地址: 127.0.0.1:" + std::to_string(sharePort));
    Control<QCheckBox>(*form, "ggcheck")->setChecked(true);
    Control<QCheckBox>(*form, "gg2check")->setChecked(true);
    QImage advert(128, 64, QImage::Format_RGB32);
    advert.fill(QColor(0, 0, 255));
    ASSERT_TRUE(advert.save(QString::fromStdString((folder / "advert.bmp").string()), "BMP"));
    dialogs.fileAnswer = (folder / "advert.bmp").string();
    Control<QPushButton>(*form, "BitBtn2")->click();
    ASSERT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 1);
  }

  // The card for the window, with `extra` arguments; returns once it holds slot 1 and has
  // been sent its Login answer.
  void StartCardFor(const QStringList& extra) {
    StartCard(CardsimArgs(form->Link().ServerPort(), "SIM1", "north", 128, 64, folder, 20) + extra);
    ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); })) << CardLog();
    // The Login answer goes out after its wait; what the test sends comes after it.
    ASSERT_TRUE(WaitFor([&] {
      return IndexOf(Lines(*form), R"(发送:{"name":"Login")") < Lines(*form).size();
    })) << CardLog();
  }

  // A round trip to the card: the disk query and its answer. The card answers in order on its
  // one connection, so once the answer is logged everything it sent before has been handled.
  // Returns the number of log lines before the query.
  size_t RoundTrip() {
    const size_t before = Lines(*form).size();
    form->BitBtn1Click();
    const bool answered = WaitFor(
        [&] {
          return Lines(*form).size() > before &&
                 Lines(*form).back().rfind(R"(收到:{"name":"queryDisk")", 0) == 0;
        },
        10000);
    EXPECT_TRUE(answered) << ::testing::PrintToString(Lines(*form)) << CardLog();
    return before;
  }

  void ConfirmedSend() {
    dialogs.confirm = true;
    Control<QPushButton>(*form, "Button14")->click();
  }

  // The staged pictures 001.bmp onwards are the pages and the advertisement in list order.
  void ExpectStagedInListOrder() {
    const char* const sources[] = {"1.bmp", "2.bmp", "3.bmp", "4.bmp", "g.bmp", "advert.bmp"};
    for (int k = 1; k <= 6; ++k) {
      EXPECT_EQ(ReadAll(folder / "share" / Staged(k)), ReadAll(folder / "file" / sources[k - 1])) << k;
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "share" / Staged(7)));
  }
  // The card's screen shows exactly the staged pictures, in order, pixel for pixel.
  void ExpectScreens(const char* prefix) {
    for (int k = 1; k <= 6; ++k) {
      const QImage shown = RgbPicture(
          folder / "card-screen" / QString("%1%2.png").arg(prefix).arg(k, 3, 10, QChar('0')).toStdString());
      const QImage staged = RgbPicture(folder / "share" / Staged(k));
      ASSERT_FALSE(staged.isNull()) << k;
      ASSERT_EQ(shown.size(), QSize(128, 64)) << prefix << k << CardLog();
      EXPECT_TRUE(shown == staged) << prefix << k;
    }
    const QStringList screens = QDir(QString::fromStdString((folder / "card-screen").string()))
                                    .entryList({QString(prefix) + "*.png"}, QDir::Files);
    EXPECT_EQ(screens.size(), 6);
  }
  static std::string Staged(int k) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.bmp", k);
    return name;
  }

  quint16 sharePort = 0;
  std::unique_ptr<TForm1> form;
  QProcess card;
};

TEST_F(EndToEnd, AConfirmedProgramSendIsDownloadedFromTheShareServerAndPlayed) {
  StartWindow("1");
  StartCardFor({});
  ConfirmedSend();
  ASSERT_TRUE(WaitFor([&] { return Lines(*form).back() == "标签: SIM1, 名称: north, 发送成功."; }, 20000))
      << ::testing::PrintToString(Lines(*form)) << CardLog();
  // Nothing follows the success line: next come the round trip's query and answer.
  const size_t barrier = RoundTrip();
  EXPECT_EQ(Lines(*form)[barrier - 1], "标签: SIM1, 名称: north, 发送成功.");
  EXPECT_EQ(Lines(*form).size(), barrier + 2) << ::testing::PrintToString(Lines(*form));

  const auto lines = Lines(*form);
  EXPECT_LT(IndexOf(lines, "向 [标签: SIM1, 名称: north] 发送数据..."),
            IndexOf(lines, R"(发送:{"name":"clearuselessmaterial"})"));
  EXPECT_EQ(Count(lines, "文件:"), 0u);
  for (int i = 0; i < Control<LogView>(*form, "log")->LineCount(); ++i)
    EXPECT_NE(Control<LogView>(*form, "log")->LineColour(i), QColor(255, 0, 0))
        << lines[static_cast<size_t>(i)];
  ExpectStagedInListOrder();

  // Every file of the program went through the share server into the card's storage.
  const std::string id = "20240305080509";
  for (const std::string name :
       {"ll.xml", "pp.xml", "001.bmp", "002.bmp", "003.bmp", "004.bmp", "005.bmp", "006.bmp"}) {
    EXPECT_EQ(ReadAll(folder / "card-storage" / "share" / (id + "_" + name)),
              ReadAll(folder / "share" / name))
        << name;
  }
  ExpectScreens("program_");
}

TEST_F(EndToEnd, ADynamicAreaSendShowsTheStagedPictures) {
  StartWindow("2");
  StartCardFor({});
  ConfirmedSend();
  ASSERT_TRUE(WaitFor(
      [&] {
        return Lines(*form).back() ==
               R"(收到:{"name":"UpdateDynamic","output":{"pictures":"6","result":"ok"}})";
      },
      20000))
      << ::testing::PrintToString(Lines(*form)) << CardLog();
  const size_t barrier = RoundTrip();
  EXPECT_EQ(Lines(*form)[barrier - 1],
            R"(收到:{"name":"UpdateDynamic","output":{"pictures":"6","result":"ok"}})")
      << "the answer is only logged";
  EXPECT_EQ(Lines(*form).size(), barrier + 2) << ::testing::PrintToString(Lines(*form));
  EXPECT_LT(IndexOf(Lines(*form), "向 [标签: SIM1, 名称: north] 发送动态区数据..."), Lines(*form).size());
  EXPECT_FALSE(std::filesystem::exists(folder / "share" / "ll.xml"));
  EXPECT_FALSE(std::filesystem::exists(folder / "share" / "pp.xml"));
  ExpectStagedInListOrder();
  ExpectScreens("dynamic_");
}

TEST_F(EndToEnd, AStationThatWasNeverFetchedStaysOffTheCard) {
  ServeStation(2, stationsite::FailingSetup(404, "Not Found"));
  StartWindow("1");
  StartCardFor({});
  ConfirmedSend();
  ASSERT_TRUE(WaitFor([&] { return Lines(*form).back() == "标签: SIM1, 名称: north, 发送成功."; }, 20000))
      << ::testing::PrintToString(Lines(*form)) << CardLog();
  const auto lines = Lines(*form);
  EXPECT_EQ(Count(lines, "获取 ["), 1u) << ::testing::PrintToString(lines);
  EXPECT_EQ(Count(lines, "不添加 石门洞数据: 尚未获取到数据"), 1u);
  // The card downloaded the other pages, none drawn for station 2.
  const std::string station2 = ReadAll(folder / "file" / "2.bmp");
  int pictures = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "card-storage" / "share")) {
    if (entry.path().extension() != ".bmp") continue;
    ++pictures;
    EXPECT_NE(ReadAll(entry.path()), station2) << entry.path();
  }
  EXPECT_GE(pictures, 3);
}

}  // namespace
