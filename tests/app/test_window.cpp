#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>

#include "app_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

QString U8(const char* s) { return QString::fromUtf8(s); }

// The window laid out for a screen of 120 pixels per inch, where every size is the one the
// layout is drawn at.
struct Window : AppFolderFixture {
  std::unique_ptr<TForm1> form =
      std::make_unique<TForm1>(FormOptions{appFolder, &clock, &dialogs, port, nullptr, 120});
  template <typename W = QWidget>
  W* Find(const char* name) {
    return form->findChild<W*>(QString::fromLatin1(name));
  }
};

struct Captioned {
  const char* name;
  const char* caption;  // also the accessible name
};

class Captions : public Window, public ::testing::WithParamInterface<Captioned> {};

TEST_P(Captions, EveryControlCarriesItsCaptionAndAccessibleName) {
  QWidget* w = Find(GetParam().name);
  ASSERT_NE(w, nullptr) << GetParam().name;
  const QString caption = U8(GetParam().caption);
  EXPECT_EQ(w->accessibleName(), caption) << GetParam().name;
  if (auto* b = qobject_cast<QPushButton*>(w); b && !b->text().isEmpty()) {
    EXPECT_EQ(b->text(), caption);
  }
  if (auto* c = qobject_cast<QCheckBox*>(w)) {
    EXPECT_EQ(c->text(), caption);
  }
  if (auto* l = qobject_cast<QLabel*>(w)) {
    EXPECT_EQ(l->text(), caption);
  }
  if (auto* g = qobject_cast<QGroupBox*>(w)) {
    EXPECT_EQ(g->title(), caption);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layout, Captions,
    ::testing::Values(
        Captioned{"Label7", "翻页间隔 "}, Captioned{"Button12", "站点字体"}, Captioned{"Button5", "标题字体"},
        Captioned{"Button1", "小标题字体"}, Captioned{"Button13", "清新等级字体"},
        Captioned{"Button3", "数据字体"}, Captioned{"Button9", "单位字体"}, Captioned{"Button2", "表格颜色"},
        Captioned{"dt1check", "显示清新空气"}, Captioned{"Button4", "立即执行"},
        Captioned{"Button14", "发送C2"}, Captioned{"Button7", "退出"}, Captioned{"BitBtn1", "BitBtn1"},
        Captioned{"GroupBox8", "区域坐标"}, Captioned{"Label6", "X起点  "}, Captioned{"Label13", "Y起点  "},
        Captioned{"Label14", "宽度"}, Captioned{"Label15", "高度"}, Captioned{"GroupBox5", "列宽度"},
        Captioned{"Label8", "第一列   "}, Captioned{"Label9", "第二列 "}, Captioned{"GroupBox7", "时钟"},
        Captioned{"Label24", "X起点  "}, Captioned{"Label25", "Y起点  "}, Captioned{"Label26", "宽度"},
        Captioned{"Label27", "高度"}, Captioned{"year_", "年月日"}, Captioned{"week_", "星期"},
        Captioned{"time_", "时分秒"}, Captioned{"Button10", "显示字体"}, Captioned{"GroupBox1", "字幕"},
        Captioned{"Label16", "X起点  "}, Captioned{"Label17", "Y起点  "}, Captioned{"Label18", "宽度"},
        Captioned{"Label23", "高度"}, Captioned{"zmcheck", "显示"}, Captioned{"Button6", "显示字体"},
        Captioned{"GroupBox3", "整屏广告"}, Captioned{"BitBtn2", "添加"}, Captioned{"BitBtn3", "删除"},
        Captioned{"gg2check", "是否显示广告"}, Captioned{"Label28", "行间距    "},
        Captioned{"Button8", "文本字体"}, Captioned{"Button11", "效果预览"}, Captioned{"ggcheck", "是否显示"},
        // Controls without a caption are known by their names.
        Captioned{"dtw", "dtw"}, Captioned{"pagetime", "pagetime"}, Captioned{"Memo2", "Memo2"},
        Captioned{"log", "log"}, Captioned{"fly", "fly"}, Captioned{"ListBox1", "ListBox1"},
        Captioned{"ggshowkind", "ggshowkind"}, Captioned{"Image3", "Image3"}, Captioned{"Memo1", "Memo1"},
        // Pages by their tab captions.
        Captioned{"TabSheet1", "显示设置"}, Captioned{"TabSheet3", "广告及时钟设置"},
        Captioned{"TabSheet5", "文本输入"}, Captioned{"TabSheet6", "清新空气预览"},
        Captioned{"TabSheet8", "通讯日志"}, Captioned{"TabSheet7", "祯埠镇"},
        Captioned{"TabSheet9", "石门洞"}, Captioned{"TabSheet10", "小舟山"},
        Captioned{"TabSheet11", "千峡湖"}));

struct Range {
  const char* name;
  int min, max, formValue;
};
class SpinRanges : public Window, public ::testing::WithParamInterface<Range> {};

TEST_P(SpinRanges, HaveTheirRangeAndFormValue) {
  auto* s = Find<SpinEdit>(GetParam().name);
  ASSERT_NE(s, nullptr) << GetParam().name;
  EXPECT_EQ(s->MinValue(), GetParam().min);
  EXPECT_EQ(s->MaxValue(), GetParam().max);
  EXPECT_EQ(s->Value(), GetParam().formValue);
}

INSTANTIATE_TEST_SUITE_P(Layout, SpinRanges,
                         ::testing::Values(Range{"pagetime", 2, 1000, 3}, Range{"dtx", 0, 576, 0},
                                           Range{"dty", 0, 336, 0}, Range{"dtw", 0, 576, 0},
                                           Range{"dth", 0, 336, 0}, Range{"xx1", 0, 0, 0},
                                           Range{"xx2", 0, 0, 0}, Range{"tx", 0, 576, 0},
                                           Range{"ty", 0, 336, 0}, Range{"tw", 0, 576, 0},
                                           Range{"th", 0, 336, 0}, Range{"zmx", 0, 576, 0},
                                           Range{"zmy", 0, 336, 0}, Range{"zmw", 0, 576, 0},
                                           Range{"zmh", 0, 336, 0}, Range{"hjj", 0, 0, 0}));

TEST_F(Window, PagesComeInTheirOrder) {
  const char* captions[] = {"显示设置", "广告及时钟设置", "文本输入", "清新空气预览", "通讯日志"};
  const char* names[] = {"TabSheet1", "TabSheet3", "TabSheet5", "TabSheet6", "TabSheet8"};
  ASSERT_EQ(Control<QTabWidget>(*form, "PageControl1")->count(), 5);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->tabText(i), U8(captions[i]));
    EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->widget(i)->objectName(), names[i]);
  }
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl2")->tabPosition(), QTabWidget::East);
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl2")->count(), 4);
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl2")->currentIndex(), 0);
  EXPECT_EQ(Control<PictureBox>(*form, "Image6")->parentWidget(), Control<QWidget>(*form, "TabSheet11"));
  EXPECT_EQ(Control<PictureBox>(*form, "Image3")->size(), QSize(709, 414));
}

TEST_F(Window, CombosAndMemosHoldTheirFormValues) {
  QStringList kinds;
  for (int i = 0; i < Control<QComboBox>(*form, "ggshowkind")->count(); ++i)
    kinds << Control<QComboBox>(*form, "ggshowkind")->itemText(i);
  EXPECT_EQ(kinds, (QStringList{U8("随机"), U8("左右"), U8("百叶窗左右"), U8("百叶窗上下"), U8("3D效果")}));
  EXPECT_EQ(Control<QComboBox>(*form, "ggshowkind")->currentIndex(), 0);
  EXPECT_EQ(Control<QComboBox>(*form, "dtk")->itemText(0), U8("2小时更新数据"));
  EXPECT_EQ(Control<QComboBox>(*form, "dtk")->itemText(1), U8("3小时更新数据"));
  EXPECT_EQ(Control<QComboBox>(*form, "bm")->itemText(0), U8("居中版面"));
  EXPECT_EQ(Control<QComboBox>(*form, "bm")->itemText(1), U8("原始版面"));
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "fly")->toPlainText(), "fly");
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "Memo2")->toPlainText(), "Memo2");
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "Memo1")->toPlainText(), "Memo1");
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "Memo1")->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "fly")->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 0);
  EXPECT_FALSE(Control<QCheckBox>(*form, "dt1check")->isChecked());
  EXPECT_FALSE(Control<QCheckBox>(*form, "zmcheck")->isChecked());
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "Memo2")->width(), 581);
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->height(), 451);
  // Memo1 lies below the visible part of its group.
  EXPECT_GE(Control<QPlainTextEdit>(*form, "Memo1")->y(), Control<QGroupBox>(*form, "GroupBox3")->height());
}

TEST_F(Window, TheWindowIsFixedCentredAndCannotBeMaximised) {
  EXPECT_EQ(form->windowTitle(), U8("岚澈LED显示[C2]"));
  // The pages keep 763 x 577; the status line lies below them.
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->geometry(), QRect(0, 0, 763, 577));
  EXPECT_EQ(Control<StatusLine>(*form, "StatusBar1")->geometry(), QRect(0, 577, 763, 26));
  EXPECT_EQ(form->size(), QSize(763, 577 + 26));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());
  EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QPoint centre = form->screen()->availableGeometry().center();
  EXPECT_LE((form->frameGeometry().center() - centre).manhattanLength(), 2);
}

TEST_F(Window, FontsAreScaledAndChineseFacesHaveRealGlyphs) {
  EXPECT_EQ(Control<QWidget>(*form, "TabSheet1")->font().family(), U8("宋体"));
  EXPECT_EQ(Control<QWidget>(*form, "TabSheet1")->font().pixelSize(), 20);
  EXPECT_EQ(Control<QWidget>(*form, "TabSheet3")->font().family(), U8("新宋体"));
  EXPECT_EQ(Control<LogView>(*form, "log")->font().family(), U8("新宋体"));
  EXPECT_EQ(Control<LogView>(*form, "log")->font().pixelSize(), 13);
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->font().pixelSize(), 17);
  EXPECT_EQ(Control<QPushButton>(*form, "Button6")->font().pixelSize(), 17);
  EXPECT_EQ(form->font().family(), "MS Sans Serif");
  EXPECT_EQ(form->font().pixelSize(), 14);
  EXPECT_EQ(QFontInfo(Control<QWidget>(*form, "TabSheet1")->font()).family(), "AR PL UMing CN");
  EXPECT_EQ(QFontInfo(Control<LogView>(*form, "log")->font()).family(), "AR PL UMing CN");
  EXPECT_TRUE(QFontMetrics(Control<QWidget>(*form, "TabSheet1")->font()).inFont(QChar(0x5B9E)));  // 实
}

TEST_F(Window, SpinEditsAcceptAnyIntegerWhileTypingAndClampOnLeaving) {
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(0);
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));

  Control<SpinEdit>(*form, "dtw")->setFocus();
  Control<SpinEdit>(*form, "dtw")->Editor()->selectAll();
  QTest::keyClicks(Control<SpinEdit>(*form, "dtw"), "700");
  EXPECT_EQ(Control<SpinEdit>(*form, "dtw")->Text(), "700");
  Control<SpinEdit>(*form, "dth")->setFocus();
  EXPECT_TRUE(WaitFor([&] { return Control<SpinEdit>(*form, "dtw")->Text() == "576"; }))
      << Control<SpinEdit>(*form, "dtw")->Text().toStdString();
  EXPECT_EQ(Control<SpinEdit>(*form, "dtw")->Value(), 576);

  // Letters cannot be typed; signs can, and without a limit negative values stay.
  Control<SpinEdit>(*form, "xx1")->setFocus();
  Control<SpinEdit>(*form, "xx1")->Editor()->selectAll();
  QTest::keyClicks(Control<SpinEdit>(*form, "xx1"), "-2a5");
  EXPECT_EQ(Control<SpinEdit>(*form, "xx1")->Text(), "-25");
  Control<SpinEdit>(*form, "dtx")->setFocus();
  ASSERT_TRUE(WaitFor([&] { return !Control<SpinEdit>(*form, "xx1")->Editor()->hasFocus(); }));
  EXPECT_EQ(Control<SpinEdit>(*form, "xx1")->Text(), "-25");
  EXPECT_EQ(Control<SpinEdit>(*form, "xx1")->Value(), -25);

  // An emptied field reads as the minimum.
  Control<SpinEdit>(*form, "hjj")->SetText("");
  EXPECT_EQ(Control<SpinEdit>(*form, "hjj")->Value(), 0);
  Control<SpinEdit>(*form, "pagetime")->SetText("");
  EXPECT_EQ(Control<SpinEdit>(*form, "pagetime")->Value(), 2);
  Control<SpinEdit>(*form, "pagetime")->SetText("+-3");
  EXPECT_EQ(Control<SpinEdit>(*form, "pagetime")->Value(), 2);

  // The arrows step by one, inside the range.
  Control<SpinEdit>(*form, "dty")->SetValue(336);
  Control<SpinEdit>(*form, "dty")->stepBy(1);
  EXPECT_EQ(Control<SpinEdit>(*form, "dty")->Value(), 336);
  Control<SpinEdit>(*form, "dty")->stepBy(-2);
  EXPECT_EQ(Control<SpinEdit>(*form, "dty")->Value(), 334);
}

TEST_F(Window, EscapePressesTheDeleteButtonOnlyOnTheAdvertisementPage) {
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  QSignalSpy pressed(Control<QPushButton>(*form, "BitBtn3"), &QPushButton::clicked);

  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
  Control<QListWidget>(*form, "ListBox1")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(pressed.count(), 1);

  Control<QPlainTextEdit>(*form, "fly")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(pressed.count(), 1) << "Esc in the subtitle box stays in the box";

  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(0);
  Control<QPushButton>(*form, "Button4")->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
  EXPECT_EQ(pressed.count(), 1);
}

TEST_F(Window, TheExitButtonClosesTheWindow) {
  QApplication::setQuitOnLastWindowClosed(false);
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  Control<QPushButton>(*form, "Button7")->click();
  EXPECT_FALSE(form->isVisible());
}

// The layout at other screen densities: every size scaled by dpi / 120 and rounded.
struct Scaled {
  int dpi;
  QSize pages;     // PageControl1, 763 x 577 at 120
  int statusLine;  // StatusBar1's height, 26 at 120
  QSize preview;   // Image3, 709 x 414 at 120
  int memo2Width;  // 581 at 120
  int listHeight;  // ListBox1, 451 at 120
  int pageFont;    // TabSheet1, 20 at 120
  int logFont;     // 13 at 120
  int buttonFont;  // Button6, 17 at 120
  int windowFont;  // 14 at 120
};
void PrintTo(const Scaled& s, std::ostream* os) { *os << s.dpi << " dpi"; }

class Scale : public AppFolderFixture, public ::testing::WithParamInterface<Scaled> {};

TEST_P(Scale, SizesAndFontsFollowTheScreenDensity) {
  const Scaled& s = GetParam();
  TForm1 form(FormOptions{appFolder, &clock, &dialogs, port, nullptr, s.dpi});
  EXPECT_EQ(Control<QTabWidget>(form, "PageControl1")->geometry(), QRect(QPoint(0, 0), s.pages));
  EXPECT_EQ(Control<StatusLine>(form, "StatusBar1")->geometry(),
            QRect(0, s.pages.height(), s.pages.width(), s.statusLine));
  EXPECT_EQ(form.size(), QSize(s.pages.width(), s.pages.height() + s.statusLine));
  EXPECT_EQ(Control<PictureBox>(form, "Image3")->size(), s.preview);
  EXPECT_EQ(Control<QPlainTextEdit>(form, "Memo2")->width(), s.memo2Width);
  EXPECT_EQ(Control<QListWidget>(form, "ListBox1")->height(), s.listHeight);
  EXPECT_EQ(Control<QWidget>(form, "TabSheet1")->font().pixelSize(), s.pageFont);
  EXPECT_EQ(Control<LogView>(form, "log")->font().pixelSize(), s.logFont);
  EXPECT_EQ(Control<QPushButton>(form, "Button6")->font().pixelSize(), s.buttonFont);
  EXPECT_EQ(form.font().pixelSize(), s.windowFont);
}

INSTANTIATE_TEST_SUITE_P(Screens, Scale,
                         ::testing::Values(Scaled{96, {610, 462}, 21, {567, 331}, 465, 361, 16, 10, 14, 11},
                                           Scaled{120, {763, 577}, 26, {709, 414}, 581, 451, 20, 13, 17, 14},
                                           Scaled{144, {916, 692}, 31, {851, 497}, 697, 541, 24, 16, 20, 17}),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "dpi"; });

}  // namespace
