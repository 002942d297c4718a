#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>

#include "app_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

struct WindowSettings : AppFolderFixture {
  void SetUp() override { WithConfig(); }
  // A data site on a port of this machine nobody listens on.
  static std::string UnreachableSite() {
    return "[Path]\r\nStationSite=https://127.0.0.1:" + std::to_string(FreePort()) + "\r\n";
  }
  // A confirmed send at `hour` o'clock whose fetch finds no site: it counts as the last send.
  void SendWithoutData(TForm1& form, int hour) {
    clock.Set(QDateTime(QDate(2024, 3, 5), QTime(hour, 5, 9, 42)));
    dialogs.confirm = true;
    Control<QPushButton>(form, "Button14")->click();
    clock.Set(FakeClock().Now());
  }
};

TEST_F(WindowSettings, WithoutSetupIniEveryControlShowsItsDefault) {
  auto form = Start();
  EXPECT_TRUE(Control<QCheckBox>(*form, "zmcheck")->isChecked());
  EXPECT_TRUE(Control<QCheckBox>(*form, "dt1check")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(*form, "ggcheck")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(*form, "gg2check")->isChecked());
  EXPECT_EQ(Control<QComboBox>(*form, "ggshowkind")->currentText(), QString::fromUtf8("左右"));
  EXPECT_EQ(Control<SpinEdit>(*form, "pagetime")->Value(), 10);
  EXPECT_EQ(Control<SpinEdit>(*form, "xx1")->Value(), 110);
  EXPECT_EQ(Control<SpinEdit>(*form, "xx2")->Value(), 80);
  EXPECT_EQ(Control<SpinEdit>(*form, "hjj")->Value(), 3);
  for (SpinEdit* s :
       {Control<SpinEdit>(*form, "dtx"), Control<SpinEdit>(*form, "dty"), Control<SpinEdit>(*form, "dtw"),
        Control<SpinEdit>(*form, "dth"), Control<SpinEdit>(*form, "zmx"), Control<SpinEdit>(*form, "zmy"),
        Control<SpinEdit>(*form, "zmw"), Control<SpinEdit>(*form, "zmh"), Control<SpinEdit>(*form, "tx"),
        Control<SpinEdit>(*form, "ty"), Control<SpinEdit>(*form, "tw"), Control<SpinEdit>(*form, "th")}) {
    EXPECT_EQ(s->Text(), "0") << s->objectName().toStdString();
  }
  EXPECT_EQ(Control<QComboBox>(*form, "bm")->currentIndex(), 0);
  EXPECT_EQ(Control<QComboBox>(*form, "dtk")->currentIndex(), 0);
  EXPECT_EQ(form->Fonts().dt, (FontSlot{G("宋体"), 16, 255, 0}));
  EXPECT_EQ(form->Fonts().clock, (FontSlot{G("宋体"), 1, 1, 1}));
  EXPECT_EQ(form->Fonts().wgcolor, 255);
  EXPECT_EQ(form->Captions().fresh[6], G("硫化氢(mg/m3)"));
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "fly")->toPlainText(), "fly");
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "Memo2")->toPlainText(), "Memo2");
}

TEST_F(WindowSettings, StoredValuesAreBroughtIntoTheControlsRanges) {
  WriteAll(folder / "setup.ini",
           G("[其它设置]\r\npagetime=1\r\n列1宽=5000\r\n列2宽=-30\r\ndtw=700\r\ndth=-5\r\nhjj=-7\r\n"
             "ggshowkind=7\r\nbmsel=1\r\ndtk=-1\r\nzmcheck=0\r\n"));
  auto form = Start();
  EXPECT_EQ(Control<SpinEdit>(*form, "pagetime")->Text(), "2");
  EXPECT_EQ(Control<SpinEdit>(*form, "xx1")->Text(), "5000");
  EXPECT_EQ(Control<SpinEdit>(*form, "xx2")->Text(), "-30");
  EXPECT_EQ(Control<SpinEdit>(*form, "dtw")->Text(), "576");
  EXPECT_EQ(Control<SpinEdit>(*form, "dth")->Text(), "0");
  EXPECT_EQ(Control<SpinEdit>(*form, "hjj")->Text(), "-7");
  EXPECT_EQ(Control<QComboBox>(*form, "ggshowkind")->currentIndex(), -1);
  EXPECT_EQ(Control<QComboBox>(*form, "bm")->currentIndex(), 1);
  EXPECT_EQ(Control<QComboBox>(*form, "dtk")->currentIndex(), -1);
  EXPECT_FALSE(Control<QCheckBox>(*form, "zmcheck")->isChecked());

  form->Button4Click();
  const IniFile saved(ReadAll(folder / "setup.ini"));
  EXPECT_EQ(saved.Value(G("其它设置"), "ggshowkind"), "-1");
  EXPECT_EQ(saved.Value(G("其它设置"), "dtk"), "-1");
  EXPECT_EQ(saved.Value(G("其它设置"), "pagetime"), "2");
  EXPECT_EQ(saved.Value(G("其它设置"), G("列1宽")), "5000");
}

TEST_F(WindowSettings, ASaveFollowedByARestartRestoresEverythingItWrote) {
  {
    auto form = Start();
    Control<QCheckBox>(*form, "zmcheck")->setChecked(false);
    Control<QCheckBox>(*form, "dt1check")->setChecked(false);
    Control<QCheckBox>(*form, "ggcheck")->setChecked(true);
    Control<QCheckBox>(*form, "gg2check")->setChecked(true);
    Control<QComboBox>(*form, "ggshowkind")->setCurrentIndex(4);
    Control<QComboBox>(*form, "bm")->setCurrentIndex(1);
    Control<QComboBox>(*form, "dtk")->setCurrentIndex(1);
    Control<QCheckBox>(*form, "year_")->setChecked(true);
    Control<QCheckBox>(*form, "time_")->setChecked(true);
    int v = 1;
    for (SpinEdit* s :
         {Control<SpinEdit>(*form, "pagetime"), Control<SpinEdit>(*form, "xx1"),
          Control<SpinEdit>(*form, "xx2"), Control<SpinEdit>(*form, "dtx"), Control<SpinEdit>(*form, "dty"),
          Control<SpinEdit>(*form, "dtw"), Control<SpinEdit>(*form, "dth"), Control<SpinEdit>(*form, "zmx"),
          Control<SpinEdit>(*form, "zmy"), Control<SpinEdit>(*form, "zmw"), Control<SpinEdit>(*form, "zmh"),
          Control<SpinEdit>(*form, "tx"), Control<SpinEdit>(*form, "ty"), Control<SpinEdit>(*form, "tw"),
          Control<SpinEdit>(*form, "th"), Control<SpinEdit>(*form, "hjj")}) {
      s->SetValue(10 * v++);
    }
    Control<SpinEdit>(*form, "xx2")->SetValue(-3);
    // Fonts and the table colour as the operator picks them in their dialogs.
    const std::pair<const char*, FontChoice> picks[] = {
        {"Button12", FontChoice{G("黑体"), 30, 0x0000FF00, true, false, false, false}},
        {"Button9", FontChoice{"DejaVu Sans", 9, 0x00123456, false, false, false, false}},
        {"Button10", FontChoice{G("楷体"), 12, 0x00FFFFFF, false, false, false, false}}};
    for (const auto& [button, choice] : picks) {
      dialogs.fontAnswer = choice;
      Control<QPushButton>(*form, button)->click();
    }
    dialogs.colourAnswer = 0x00808080;
    Control<QPushButton>(*form, "Button2")->click();
    ASSERT_EQ(form->Fonts().zd, (FontSlot{G("黑体"), 30, 0x0000FF00, 1}));
    ASSERT_EQ(form->Fonts().wgcolor, 0x00808080);
    Control<QPlainTextEdit>(*form, "fly")->setPlainText(QString::fromUtf8("第一行\n第二行"));
    Control<QPlainTextEdit>(*form, "Memo2")->setPlainText(QString::fromUtf8("文本\n\n末行\n"));
    Control<QListWidget>(*form, "ListBox1")->addItem("/pictures/a.jpg");
    Control<QListWidget>(*form, "ListBox1")->addItem(QString::fromUtf8("/图片/b.bmp"));

    const DisplayControls written = form->CollectDisplayControls();
    const DisplayFonts writtenFonts = form->Fonts();
    const DisplayTexts writtenTexts = form->CollectDisplayTexts();
    form->Button4Click();

    auto again = Start();
    DisplayControls restored = again->CollectDisplayControls();
    restored.left = written.left;  // written only, never read back
    restored.top = written.top;
    EXPECT_EQ(restored, written);
    EXPECT_EQ(again->Fonts(), writtenFonts);
    EXPECT_EQ(again->CollectDisplayTexts(), writtenTexts);
    EXPECT_EQ(Control<QPlainTextEdit>(*again, "fly")->toPlainText(), QString::fromUtf8("第一行\n第二行"));
    EXPECT_EQ(Control<QListWidget>(*again, "ListBox1")->item(1)->text(), QString::fromUtf8("/图片/b.bmp"));
  }
  // The files, byte for byte.
  EXPECT_EQ(ReadAll(folder / "fly.txt"), G("第一行\r\n第二行"));
  EXPECT_EQ(ReadAll(folder / "txt.txt"), G("文本\r\n\r\n末行\r\n"));
  EXPECT_EQ(ReadAll(folder / "gg.txt"), G("/pictures/a.jpg\r\n/图片/b.bmp\r\n"));
}

TEST_F(WindowSettings, CaptionSectionsAndTheFreeTextSurviveASaveByteForByte) {
  const std::string fresh = G("[清新空气设置]\r\n大标题= 我的标题 \r\n站点2=氨\r\n\r\n");
  const std::string ambient = G("[环境空气设置]\n小标题3=三\n");
  const std::string share = G("字符串=\\\\10.0.0.8\\file\r\n");
  WriteAll(folder / "setup.ini", fresh + ambient + G("[其它设置]\r\n") + share);
  auto form = Start();
  EXPECT_EQ(form->Captions().fresh[0], G("我的标题"));
  EXPECT_EQ(form->Captions().share, "\\\\10.0.0.8\\file");
  form->Button4Click();
  const std::string saved = ReadAll(folder / "setup.ini");
  EXPECT_EQ(saved.rfind(fresh + ambient + G("[其它设置]\r\n") + share + "zmcheck=1\r\n", 0), 0u);
}

TEST_F(WindowSettings, TextFilesLoadWithTheirLineBreakRules) {
  WriteAll(folder / "fly.txt", G("上\n下\r中"));
  WriteAll(folder / "gg.txt", "C:\\a\\x.jpg\r\nD:\\b\\y.bmp\n\n/c/z.jpeg\r");
  auto form = Start();
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "fly")->toPlainText(), QString::fromUtf8("上\n下\n中"));
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "Memo2")->toPlainText(),
            "Memo2");  // no txt.txt: the form value stays
  ASSERT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 4);
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->item(0)->text(), "C:\\a\\x.jpg");
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->item(2)->text(), "");
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->item(3)->text(), "/c/z.jpeg");

  form->Button4Click();
  EXPECT_EQ(ReadAll(folder / "fly.txt"), G("上\r\n下\r\n中"));
  EXPECT_EQ(ReadAll(folder / "gg.txt"), "C:\\a\\x.jpg\r\nD:\\b\\y.bmp\r\n\r\n/c/z.jpeg\r\n");
  EXPECT_EQ(ReadAll(folder / "txt.txt"), "Memo2");
}

TEST_F(WindowSettings, ImmediateExecutionSelectsTheLogPageAndRearmsTheTimer) {
  // Without the timed delivery the tick that "立即执行" runs has nothing to say.
  WithConfig(UnreachableSite() + "[Set]\r\nAutoSend=0\r\n");
  auto form = Start();
  SendWithoutData(*form, 9);
  ASSERT_EQ(form->LastSendHour(), "09");
  const int lines = Control<LogView>(*form, "log")->LineCount();
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
  Control<QPushButton>(*form, "Button4")->click();
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 4);
  EXPECT_EQ(Control<QTimer>(*form, "Timer1")->interval(), 600000);
  EXPECT_TRUE(Control<QTimer>(*form, "Timer1")->isActive());
  EXPECT_EQ(form->LastSendHour(), "");
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), lines) << "a good save logs nothing";
}

TEST_F(WindowSettings, ImmediateExecutionRunsTheTimedDeliverysTick) {
  auto form = Start();
  Control<QPushButton>(*form, "Button4")->click();
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 3);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(2),
            QString::fromUtf8("08:05:09:042  定时发送: 08:00 时段没有已登录的控制卡, 暂不发送"));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(2), QColor(255, 0, 0));
  Control<QPushButton>(*form, "Button4")->click();
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 3) << "once per slot";
}

TEST_F(WindowSettings, AFailedSaveStopsAtTheFailingFileAndSaysWhich) {
  WithLogFolder();
  WithConfig(UnreachableSite());
  auto form = Start();
  SendWithoutData(*form, 9);
  ASSERT_EQ(form->LastSendHour(), "09");
  const int lines = Control<LogView>(*form, "log")->LineCount();
  std::filesystem::create_directory(folder / "fly.txt");  // cannot be replaced by a file
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
  Control<QListWidget>(*form, "ListBox1")->addItem("/p/new.jpg");
  Control<QPushButton>(*form, "Button4")->click();

  EXPECT_TRUE(std::filesystem::exists(folder / "setup.ini"));
  EXPECT_EQ(ReadAll(folder / "gg.txt"), "/p/new.jpg\r\n");
  EXPECT_FALSE(std::filesystem::exists(folder / "txt.txt"));
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 1);
  EXPECT_EQ(Control<QTimer>(*form, "Timer1")->interval(), 60000);
  EXPECT_EQ(form->LastSendHour(), "09");
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), lines + 1);
  const std::string line = G("保存文件失败: ") + (folder / "fly.txt").string() + ": Is a directory";
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(lines), "08:05:09:042  " + ToQString(line));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(lines), QColor(255, 0, 0));
  const std::string file = ReadAll(folder / "log" / "Log20240305.txt");
  EXPECT_NE(file.find("08:05:09:042 " + line + "\r\n"), std::string::npos);
}

TEST_F(WindowSettings, TheSavedWindowPositionIsNeverRestored) {
  {
    auto form = Start();
    form->show();
    form->move(3, 4);
    form->Button4Click();
  }
  const IniFile saved(ReadAll(folder / "setup.ini"));
  EXPECT_TRUE(saved.Value(G("其它设置"), "left").has_value());
  auto form = Start();
  form->show();
  const QPoint centre = form->screen()->availableGeometry().center();
  EXPECT_LE((form->frameGeometry().center() - centre).manhattanLength(), 2);
}

}  // namespace
