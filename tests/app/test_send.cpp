// The send button and the buttons around it, driven through the window against the stand-in
// data site; the card, where there is one, is a socket of the test.
#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>

#include "send_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

struct Send : SendFixture {
  // No card is expected, so HttpBaseDir only has to be well formed.
  void SetUp() override {
    SendFixture::SetUp();
    if (HasFatalFailure()) return;
    ConfigFor("http://127.0.0.1:9/share/", "sendkind=1\r\n");
  }
  std::string Pic(const char* name) const { return appFolder + "file/" + name; }
};

TEST_F(Send, TheConfirmationNamesAnEmptyTagWithoutACardAndCancelDoesNothing) {
  auto form = StartSized();
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(0);
  const int lines = Control<LogView>(*form, "log")->LineCount();
  dialogs.confirm = false;
  Control<QPushButton>(*form, "Button14")->click();

  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], G("向 标签[  ]LED屏发送节目,继续请确认."));
  EXPECT_EQ(dialogs.captions[0], G("提示信息"));
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 0) << "not even the page switch";
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), lines);
  EXPECT_TRUE(site.Requests().empty());
  EXPECT_FALSE(std::filesystem::exists(folder / "file" / "1.bmp"));
  EXPECT_TRUE(form->LastSendHour().empty());
  EXPECT_FALSE(form->Sending());
}

TEST_F(Send, WithoutACardThePagesAreFetchedDrawnAndListedAndNothingIsSent) {
  auto form = StartSized();
  Control<QCheckBox>(*form, "ggcheck")->setChecked(true);
  Control<QCheckBox>(*form, "zmcheck")->setChecked(false);  // no strips: the previews show the pages alone
  Control<QCheckBox>(*form, "year_")->setChecked(false);
  Control<QCheckBox>(*form, "week_")->setChecked(false);
  Control<QCheckBox>(*form, "time_")->setChecked(false);
  dialogs.confirm = true;
  Control<QPushButton>(*form, "Button14")->click();

  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 4);
  EXPECT_EQ(site.Requests().size(), 4u);
  const auto lines = Lines(*form);
  const std::vector<std::string> expected = {
      "程序开始运行",
      "启动端口成功: " + std::to_string(port),
      "获取 祯埠镇 等级 清新 负氧离子 1250 PM2.5 18 臭氧 96 发布时间 2024-03-05 08:00",
      "获取 石门洞 等级 非常清新 负氧离子 3400 PM2.5 9 臭氧 72 发布时间 2024-03-05 08:00",
      "获取 小舟山 等级 一般 负氧离子 980 PM2.5 25 臭氧 110 发布时间 2024-03-05 08:00",
      "获取 千峡湖 等级 清新 负氧离子 560 PM2.5 30 臭氧 80 发布时间 2024-03-05 08:00",
      "添加 祯埠镇数据 " + Pic("1.bmp"),
      "添加 石门洞数据 " + Pic("2.bmp"),
      "添加 小舟山数据 " + Pic("3.bmp"),
      "添加 千峡湖数据 " + Pic("4.bmp"),
      "添加 文本 " + Pic("g.bmp"),
      "没有已登录的控制卡, 节目未发送.",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(static_cast<int>(lines.size()) - 1),
            QColor(255, 0, 0));
  EXPECT_EQ(form->PictureList(), Pic("1.bmp") + ";" + Pic("2.bmp") + ";" + Pic("3.bmp") + ";" + Pic("4.bmp") +
                                     ";" + Pic("g.bmp") + ";");
  EXPECT_FALSE(std::filesystem::exists(folder / "share")) << "no delivery without a card";
  EXPECT_EQ(form->Link().Exchange().deliverySlot, 1);
  EXPECT_EQ(form->LastSendHour(), "08");
  EXPECT_EQ(form->Readings()[2].pm25, "9");
  EXPECT_EQ(form->Readings()[3].level, G("一般"));
  EXPECT_NE(Control<QPlainTextEdit>(*form, "Memo1")->toPlainText().indexOf(QString::fromUtf8("实时数据")), -1)
      << "the last page is kept";

  // Each preview shows its freshly written page at its top left corner, black beyond.
  for (int n = 1; n <= 4; ++n) {
    const QImage written(QString::fromStdString(Pic((std::to_string(n) + ".bmp").c_str())));
    ASSERT_EQ(written.size(), QSize(96, 48)) << n;
    const QImage& shown = form->StationPreview(n)->Picture();
    ASSERT_GE(shown.width(), 96);
    EXPECT_EQ(shown.copy(0, 0, 96, 48).convertToFormat(QImage::Format_RGB32),
              written.convertToFormat(QImage::Format_RGB32))
        << n;
    EXPECT_EQ(shown.pixelColor(200, 200), QColor(Qt::black));
  }
}

TEST_F(Send, AStationNeverFetchedIsLeftOutAndTheOthersGoOn) {
  ServeStation(3, stationsite::FailingSetup(503, "Service Unavailable"));
  auto form = StartSized();
  dialogs.confirm = true;
  Control<QPushButton>(*form, "Button14")->click();
  const auto lines = Lines(*form);
  ASSERT_EQ(Count(lines, "获取 ["), 1u);
  const std::string failed = lines[IndexOf(lines, "获取 [")];
  EXPECT_EQ(failed,
            "获取 [" + site.Base() +
                "/zjqxkqfb/site/24e8f36a598a4a8ea1d3a92c42e192fd] 数据失败 错误代码: Service Unavailable");
  EXPECT_LT(IndexOf(lines, "获取 石门洞"), IndexOf(lines, "获取 ["));
  EXPECT_LT(IndexOf(lines, "获取 ["), IndexOf(lines, "获取 千峡湖"));
  EXPECT_EQ(Count(lines, "不添加 小舟山数据: 尚未获取到数据"), 1u);
  EXPECT_EQ(Count(lines, "添加 "), 3u);
  EXPECT_EQ(form->PictureList(), Pic("1.bmp") + ";" + Pic("2.bmp") + ";" + Pic("4.bmp") + ";");
  EXPECT_EQ(form->LastSendHour(), "08");
}

TEST_F(Send, APageFileThatCannotBeWrittenGoesToTheErrorReportAndTheSendStops) {
  std::filesystem::create_directories(folder / "file" / "2.bmp");  // a folder where the page goes
  auto form = StartSized();
  dialogs.confirm = true;
  Control<QPushButton>(*form, "Button14")->click();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_NE(U(dialogs.messages[1]).find("2.bmp"), std::string::npos) << U(dialogs.messages[1]);
  const auto lines = Lines(*form);
  EXPECT_EQ(Count(lines, "获取 "), 4u);
  EXPECT_EQ(Count(lines, "添加 "), 0u);
  EXPECT_FALSE(form->Sending());
  // Station 1 was written and its preview shows it; station 2 and later keep the black of start-up.
  const QImage first(QString::fromStdString(Pic("1.bmp")));
  ASSERT_EQ(first.size(), QSize(96, 48));
  EXPECT_EQ(form->StationPreview(1)->Picture().copy(0, 0, 96, 48).convertToFormat(QImage::Format_RGB32),
            first.convertToFormat(QImage::Format_RGB32));
  for (int n = 2; n <= 4; ++n) {
    const QImage shown = form->StationPreview(n)->Picture();
    ASSERT_GE(shown.width(), 96) << n;
    int lit = 0;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 96; ++x) lit += shown.pixelColor(x, y) != QColor(Qt::black);
    EXPECT_EQ(lit, 0) << n;
  }
  // The window carries on: the next send is not refused.
  std::filesystem::remove(folder / "file" / "2.bmp");
  Control<QPushButton>(*form, "Button14")->click();
  EXPECT_EQ(Count(Lines(*form), "添加 "), 4u);
}

TEST_F(Send, ATextPageThatCannotBeWrittenEndsTheListAndGoesToTheErrorReport) {
  std::filesystem::create_directories(folder / "file" / "g.bmp");
  auto form = StartSized();
  Control<QCheckBox>(*form, "ggcheck")->setChecked(true);
  dialogs.confirm = true;
  Control<QPushButton>(*form, "Button14")->click();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_NE(U(dialogs.messages[1]).find("g.bmp"), std::string::npos) << U(dialogs.messages[1]);
  EXPECT_EQ(form->PictureList(),
            Pic("1.bmp") + ";" + Pic("2.bmp") + ";" + Pic("3.bmp") + ";" + Pic("4.bmp") + ";")
      << "the station entries appended before the failure";
  EXPECT_EQ(Count(Lines(*form), "添加 文本"), 0u);
}

TEST_F(Send, WhileAFetchWaitsControllerFramesAreHandledAndASecondSendIsRefused) {
  // Station 1's answer is held at the site, so the fetch waits in its event loop: when the
  // request is there a card logs in; once the window has handled the card's frame the button is
  // clicked again, and only then does the page come.
  const std::string station1 = "/zjqxkqfb/site/9efe4be1d20c476e8f1438f06e56d870";
  site.Hold(station1);
  auto form = StartSized();
  dialogs.confirm = true;

  Card card;
  bool loggedInDuringFetch = false;
  bool clickedAgain = false;
  size_t requestsAtSecondClick = 0;
  stationsite::OnceOnRequest(site, station1,
                             [&] { loggedInDuringFetch = card.LogIn(form->Link().ServerPort(), "EARLY"); });
  QObject::connect(&form->Link(), &ControllerLink::BytesHandled, form.get(), [&] {
    if (clickedAgain || IndexOf(Lines(*form), "收到:{\"name\":\"LOGIN\"") == Lines(*form).size()) return;
    clickedAgain = true;
    requestsAtSecondClick = site.Requests().size();
    Control<QPushButton>(*form, "Button14")->click();
    site.Release(station1);
  });
  Control<QPushButton>(*form, "Button14")->click();

  ASSERT_TRUE(loggedInDuringFetch);
  EXPECT_EQ(requestsAtSecondClick, 1u) << "the second click came while station 1 was fetched";
  const auto lines = Lines(*form);
  const size_t received = IndexOf(lines, "收到:{\"name\":\"LOGIN\"");
  const size_t lastFetch = IndexOf(lines, "获取 千峡湖");
  ASSERT_LT(received, lines.size()) << ::testing::PrintToString(lines);
  EXPECT_LT(received, lastFetch) << "the frame was handled before the fetch ended";
  EXPECT_LT(IndexOf(lines, "上一次发送尚未结束"), lastFetch);
  EXPECT_EQ(
      Control<LogView>(*form, "log")->LineColour(static_cast<int>(IndexOf(lines, "上一次发送尚未结束"))),
      QColor(255, 0, 0));
  EXPECT_EQ(Count(lines, "获取 "), 4u) << "one run only";
  EXPECT_EQ(site.Requests().size(), 4u);
  EXPECT_EQ(dialogs.messages.size(), 1u) << "the refused click asks nothing";
  // The card that logged in during the fetch is delivered to.
  EXPECT_LT(IndexOf(lines, "向 [标签: EARLY, 名称: card] 发送数据..."), lines.size());
}

TEST_F(Send, TheDiskQueryButtonSendsOnlyWithACard) {
  auto form = Start();
  const int before = Control<LogView>(*form, "log")->LineCount();
  Control<QPushButton>(*form, "BitBtn1")->click();
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), before) << "no card: nothing at all";

  Card card;
  ASSERT_TRUE(card.LogIn(form->Link().ServerPort(), "C1"));
  ASSERT_TRUE(WaitFor([&] { return card.Payloads().size() == 1; })) << "the Login answer";
  Control<QPushButton>(*form, "BitBtn1")->click();
  EXPECT_EQ(Lines(*form).back(), R"(发送:{"name":"queryDisk","input":{"storagemedia":"emmc"}})");
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(Control<LogView>(*form, "log")->LineCount() - 1),
            QColor(0, 255, 0));
  ASSERT_TRUE(WaitFor([&] { return card.Payloads().size() == 2; }));
  EXPECT_EQ(card.Payloads()[1], R"({"name":"queryDisk","input":{"storagemedia":"emmc"}})");
  EXPECT_EQ(dialogs.messages.size(), 0u);
}

TEST_F(Send, TheConfirmationNamesTheLoggedInCard) {
  auto form = Start();
  Card card;
  ASSERT_TRUE(card.LogIn(form->Link().ServerPort(), "TAG-7"));
  ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); }));
  dialogs.confirm = false;
  Control<QPushButton>(*form, "Button14")->click();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], G("向 标签[ TAG-7 ]LED屏发送节目,继续请确认."));
}

// --- the text page preview ------------------------------------------------------------------

TEST_F(Send, ThePreviewRendersTheTextPageAndOpensItOrReportsTheFailure) {
  auto form = StartSized();
  Control<QPushButton>(*form, "Button11")->click();
  ASSERT_EQ(viewer.opened.size(), 1u);
  EXPECT_EQ(viewer.opened[0], Pic("g.bmp"));
  EXPECT_EQ(QImage(QString::fromStdString(Pic("g.bmp"))).size(), QSize(96, 48));
  EXPECT_TRUE(dialogs.messages.empty());

  std::filesystem::remove(folder / "file" / "g.bmp");
  std::filesystem::create_directory(folder / "file" / "g.bmp");
  Control<QPushButton>(*form, "Button11")->click();
  EXPECT_EQ(viewer.opened.size(), 1u) << "nothing launched after a failed render";
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(U(dialogs.messages[0]).find("g.bmp"), std::string::npos);
}

// --- the advertisement list -----------------------------------------------------------------

struct Advertisements : SendFixture {
  void SetUp() override {
    SendFixture::SetUp();
    if (HasFatalFailure()) return;
    ConfigFor("http://127.0.0.1:9/share/", "");
    std::filesystem::create_directories(folder / "src");
  }
  std::string Source(const std::string& name, const std::string& bytes = "pic") {
    WriteAll(folder / "src" / name, bytes);
    return (folder / "src" / name).string();
  }
  std::vector<std::string> Entries(const TForm1& form) const {
    std::vector<std::string> out;
    for (int i = 0; i < Control<QListWidget>(form, "ListBox1")->count(); ++i)
      out.push_back(Control<QListWidget>(form, "ListBox1")->item(i)->text().toStdString());
    return out;
  }
};

TEST_F(Advertisements, TheFifthAddIsAllowedAndTheSixthIsRefusedWithoutADialog) {
  auto form = Start();
  for (int i = 1; i <= 5; ++i) {
    dialogs.fileAnswer = Source("ad" + std::to_string(i) + ".jpg");
    Control<QPushButton>(*form, "BitBtn2")->click();
  }
  ASSERT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 5);
  EXPECT_EQ(Entries(*form)[4], (folder / "src" / "ad5.jpg").string());
  EXPECT_EQ(ReadAll(folder / "file" / "ad5.jpg"), "pic");
  EXPECT_EQ(dialogs.filters.size(), 5u);
  EXPECT_NE(dialogs.filters[0].find("*.jpg"), std::string::npos);
  EXPECT_TRUE(dialogs.messages.empty());

  dialogs.fileAnswer = Source("ad6.jpg");
  Control<QPushButton>(*form, "BitBtn2")->click();
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 5);
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], G("广告文件不可超过5个"));
  EXPECT_EQ(dialogs.filters.size(), 5u) << "the dialog did not open";
  EXPECT_FALSE(std::filesystem::exists(folder / "file" / "ad6.jpg"));

  // A cancelled dialog changes nothing.
  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(0);
  Control<QPushButton>(*form, "BitBtn3")->click();
  dialogs.fileAnswer.reset();
  Control<QPushButton>(*form, "BitBtn2")->click();
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 4);
}

TEST_F(Advertisements, SevenEntriesFromGgTxtRefuseEveryAddAndDeleteOneByOne) {
  std::string gg;
  for (int i = 1; i <= 7; ++i) gg += "D:\\ads\\" + std::to_string(i) + ".jpg\r\n";
  WriteAll(folder / "gg.txt", gg);
  auto form = Start();
  ASSERT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 7);
  dialogs.fileAnswer = Source("x.jpg");
  Control<QPushButton>(*form, "BitBtn2")->click();
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 7);
  EXPECT_EQ(dialogs.messages.size(), 1u);
  for (int left = 6; left >= 4; --left) {
    Control<QListWidget>(*form, "ListBox1")->setCurrentRow(0);
    Control<QPushButton>(*form, "BitBtn3")->click();
    EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), left);
  }
  EXPECT_EQ(Entries(*form).front(), "D:\\ads\\4.jpg");
  Control<QPushButton>(*form, "BitBtn2")->click();
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 5) << "four entries take a fifth";
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(Advertisements, DeleteAndEscRemoveTheSelectionAndDoNothingWithoutOne) {
  auto form = Start();
  for (const char* name : {"a.jpg", "b.bmp", "c.jpeg"}) {
    dialogs.fileAnswer = Source(name);
    Control<QPushButton>(*form, "BitBtn2")->click();
  }
  Control<QListWidget>(*form, "ListBox1")->clearSelection();
  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(-1);
  Control<QPushButton>(*form, "BitBtn3")->click();
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 3) << "nothing selected";

  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(1);
  Control<QPushButton>(*form, "BitBtn3")->click();
  EXPECT_EQ(Entries(*form), (std::vector<std::string>{(folder / "src" / "a.jpg").string(),
                                                      (folder / "src" / "c.jpeg").string()}));
  EXPECT_TRUE(std::filesystem::exists(folder / "file" / "b.bmp")) << "the copy stays";

  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
  Control<QListWidget>(*form, "ListBox1")->setFocus();
  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(0);
  QTest::keyClick(Control<QListWidget>(*form, "ListBox1"), Qt::Key_Escape);
  EXPECT_EQ(Entries(*form), (std::vector<std::string>{(folder / "src" / "c.jpeg").string()}));
}

TEST_F(Advertisements, TwoFilesWithOneNameShareOneCopyAndTheLastOneWins) {
  auto form = Start();
  std::filesystem::create_directories(folder / "src" / "other");
  dialogs.fileAnswer = Source("x.jpg", "first");
  Control<QPushButton>(*form, "BitBtn2")->click();
  dialogs.fileAnswer = Source("other/x.jpg", "second");
  Control<QPushButton>(*form, "BitBtn2")->click();
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 2);
  EXPECT_EQ(ReadAll(folder / "file" / "x.jpg"), "second");
}

TEST_F(Advertisements, TheDoubleClickOpensOnlyAnExistingPictureOfTheSelection) {
  auto form = Start();
  dialogs.fileAnswer = Source("PROMO.JPG");
  Control<QPushButton>(*form, "BitBtn2")->click();
  dialogs.fileAnswer = Source("clip.mp4");
  Control<QPushButton>(*form, "BitBtn2")->click();
  dialogs.fileAnswer = Source("gone.bmp");
  Control<QPushButton>(*form, "BitBtn2")->click();
  std::filesystem::remove(folder / "src" / "gone.bmp");

  Control<QListWidget>(*form, "ListBox1")->clearSelection();
  form->ListBox1DblClick();
  EXPECT_TRUE(viewer.opened.empty()) << "nothing selected";
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 3);

  for (int row : {1, 2}) {
    Control<QListWidget>(*form, "ListBox1")->setCurrentRow(row);
    form->ListBox1DblClick();
  }
  EXPECT_TRUE(viewer.opened.empty()) << "a video and a vanished file open nothing";

  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(0);
  form->ListBox1DblClick();
  ASSERT_EQ(viewer.opened.size(), 1u);
  EXPECT_EQ(viewer.opened[0], (folder / "src" / "PROMO.JPG").string()) << "the source, not the copy";
}

}  // namespace
