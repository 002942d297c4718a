// The window's layout: every page and control with its caption, items, range, form value and
// font, and the table of their places. Sizes are pixels at 120 pixels per inch; Px() scales
// them to the screen.

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

#include "app/main_window.h"
#include "render/display_area.h"
#include "text/gbk.h"

namespace aqled {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

// A font of a face and a character height in pixels (already scaled).
QFont FaceFont(const char* utf8Face, int pixels) {
  QFont f(U(utf8Face));
  f.setPixelSize(pixels);
  return f;
}

// Keeps a child's width and/or height filling its parent from the child's position on.
class FillParent : public QObject {
 public:
  FillParent(QWidget* child, bool width, bool height)
      : QObject(child), child_(child), width_(width), height_(height) {
    child->parentWidget()->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Resize && watched == child_->parentWidget()) Fit();
    return false;
  }
  void Fit() {
    const QSize parent = child_->parentWidget()->size();
    child_->resize(width_ ? parent.width() - child_->x() : child_->width(),
                   height_ ? parent.height() - child_->y() : child_->height());
  }

 private:
  QWidget* child_;
  bool width_, height_;
};

// One control's place in its parent at 120 pixels per inch.
struct Place {
  const char* name;
  int x, y, w, h;
};

constexpr Place kPlaces[] = {
    // Page 0 "显示设置": the two groups on the left, the button column Panel2 on the right.
    {"GroupBox8", 12, 10, 330, 196},
    {"Label6", 16, 38, 100, 26},
    {"dtx", 124, 34, 180, 32},
    {"Label13", 16, 78, 100, 26},
    {"dty", 124, 74, 180, 32},
    {"Label14", 16, 118, 100, 26},
    {"dtw", 124, 114, 180, 32},
    {"Label15", 16, 158, 100, 26},
    {"dth", 124, 154, 180, 32},
    {"GroupBox5", 12, 220, 330, 118},
    {"Label8", 16, 38, 100, 26},
    {"xx1", 124, 34, 180, 32},
    {"Label9", 16, 78, 100, 26},
    {"xx2", 124, 74, 180, 32},
    {"Panel2", 536, 0, 214, 532},
    {"Label7", 6, 8, 106, 26},
    {"pagetime", 114, 4, 94, 32},
    {"Button12", 6, 40, 202, 31},
    {"Button5", 6, 74, 202, 31},
    {"Button1", 6, 108, 202, 31},
    {"Button13", 6, 142, 202, 31},
    {"Button3", 6, 176, 202, 31},
    {"Button9", 6, 210, 202, 31},
    {"Button2", 6, 244, 202, 31},
    {"dt1check", 6, 279, 202, 28},
    {"ggshowkind", 6, 311, 202, 32},
    {"Button4", 6, 347, 202, 31},
    {"dtk", 6, 382, 202, 32},
    {"Button14", 6, 418, 202, 31},
    {"Button7", 6, 452, 202, 31},
    {"BitBtn1", 6, 486, 202, 31},

    // Page 1 "广告及时钟设置": Panel1 (clock and subtitle) on the left, the advertisements right.
    {"Panel1", 0, 0, 372, 532},
    {"GroupBox7", 4, 4, 364, 200},
    {"Label24", 10, 34, 82, 26},
    {"tx", 94, 30, 84, 32},
    {"Label25", 188, 34, 82, 26},
    {"ty", 272, 30, 84, 32},
    {"Label26", 10, 72, 82, 26},
    {"tw", 94, 68, 84, 32},
    {"Label27", 188, 72, 82, 26},
    {"th", 272, 68, 84, 32},
    {"year_", 10, 110, 112, 28},
    {"week_", 126, 110, 90, 28},
    {"time_", 222, 110, 112, 28},
    {"Button10", 10, 150, 168, 33},
    {"GroupBox1", 4, 210, 364, 320},
    {"Label16", 10, 34, 82, 26},
    {"zmx", 94, 30, 84, 32},
    {"Label17", 188, 34, 82, 26},
    {"zmy", 272, 30, 84, 32},
    {"Label18", 10, 72, 82, 26},
    {"zmw", 94, 68, 84, 32},
    {"Label23", 188, 72, 82, 26},
    {"zmh", 272, 68, 84, 32},
    {"zmcheck", 10, 110, 100, 28},
    {"Button6", 126, 108, 168, 31},
    {"fly", 10, 146, 344, 164},
    {"GroupBox3", 376, 4, 372, 526},
    {"ListBox1", 8, 28, 356, 451},
    {"BitBtn2", 8, 484, 36, 34},
    {"BitBtn3", 50, 484, 36, 34},
    {"gg2check", 96, 487, 260, 28},
    {"Memo1", 8, 540, 356, 120},  // below the visible part of the group: a work area, never seen

    // Page 2 "文本输入": the text box on the left at full height, the column on the right.
    {"Memo2", 0, 0, 581, 532},
    {"bm", 590, 8, 158, 32},
    {"Label28", 590, 52, 84, 26},
    {"hjj", 676, 48, 72, 32},
    {"Button8", 590, 90, 158, 33},
    {"Button11", 590, 130, 158, 33},
    {"ggcheck", 590, 170, 158, 28},

    // Page 3 "清新空气预览": one picture at the top left of each page of PageControl2.
    {"Image3", 0, 0, 709, 414},
    {"Image4", 0, 0, 709, 414},
    {"Image5", 0, 0, 709, 414},
    {"Image6", 0, 0, 709, 414},
};

// A 16-colour style picture for the picture buttons: a plus (add) or a cross (delete).
QIcon ButtonPicture(bool add, int width, int height) {
  QPixmap normal(width, height);
  normal.fill(Qt::transparent);
  QPainter p(&normal);
  p.setRenderHint(QPainter::Antialiasing, false);
  const int m = std::max(2, width / 5);
  if (add) {
    p.setPen(QPen(QColor(0, 128, 0), std::max(2, width / 7)));
    p.drawLine(width / 2, m, width / 2, height - m);
    p.drawLine(m, height / 2, width - m, height / 2);
  } else {
    p.setPen(QPen(QColor(128, 0, 0), std::max(2, width / 7)));
    p.drawLine(m, m, width - m, height - m);
    p.drawLine(width - m, m, m, height - m);
  }
  p.end();
  QIcon icon(normal);
  if (!add) {
    QPixmap disabled(width, height);
    disabled.fill(Qt::transparent);
    QPainter d(&disabled);
    d.setPen(QPen(QColor(128, 128, 128), std::max(2, width / 7)));
    d.drawLine(m, m, width - m, height - m);
    d.drawLine(width - m, m, m, height - m);
    d.end();
    icon.addPixmap(disabled, QIcon::Disabled);
  }
  return icon;
}

template <typename W>
W* Named(W* w, const char* name, const QString& accessible) {
  w->setObjectName(QString::fromLatin1(name));
  w->setAccessibleName(accessible.isEmpty() ? QString::fromLatin1(name) : accessible);
  return w;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* caption) {
  auto* l = new QLabel(U(caption), parent);
  return Named(l, name, l->text());
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
  auto* b = new QPushButton(U(caption), parent);
  b->setAutoDefault(false);
  return Named(b, name, b->text());
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption) {
  auto* c = new QCheckBox(U(caption), parent);
  return Named(c, name, c->text());
}

QComboBox* MakeCombo(QWidget* parent, const char* name, std::initializer_list<const char*> items) {
  auto* c = new QComboBox(parent);
  for (const char* item : items) c->addItem(U(item));
  c->setCurrentIndex(0);
  return Named(c, name, QString());
}

SpinEdit* MakeSpin(QWidget* parent, const char* name, int minimum, int maximum, int value) {
  auto* s = new SpinEdit(parent);
  s->SetRange(minimum, maximum);
  s->SetValue(value);
  return Named(s, name, QString());
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* caption) {
  auto* g = new QGroupBox(U(caption), parent);
  return Named(g, name, g->title());
}

QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, const char* formValue, bool wraps) {
  auto* m = new QPlainTextEdit(U(formValue), parent);
  m->setLineWrapMode(wraps ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m->setHorizontalScrollBarPolicy(wraps ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
  return Named(m, name, QString());
}

QWidget* MakePage(QTabWidget* pages, const char* name, const char* caption, const QFont& font) {
  auto* page = new QWidget;
  page->setFont(font);
  pages->addTab(page, U(caption));
  return Named(page, name, U(caption));
}

}  // namespace

int TForm1::Px(int at120) const { return (at120 * screenDpi_ + 60) / 120; }

void TForm1::BuildPages() {
  setObjectName("Form1");
  setWindowTitle(U("岚澈LED显示[C2]"));
  setAccessibleName(windowTitle());
  setFont(FaceFont("MS Sans Serif", Px(14)));
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);

  PageControl1 = Named(new QTabWidget(this), "PageControl1", QString());
  PageControl1->tabBar()->setFont(FaceFont("MS Sans Serif", Px(23)));
  BuildSettingsPage();
  BuildAdvertisementPage();
  BuildTextPage();
  BuildPreviewPage();
  BuildLogPage();
  BuildStatusLine();
  ApplyGeometry();
}

void TForm1::BuildSettingsPage() {
  TabSheet1 = MakePage(PageControl1, "TabSheet1", "显示设置", FaceFont("宋体", Px(20)));
  QWidget* page = TabSheet1;

  Panel2 = Named(new QWidget(page), "Panel2", QString());
  Label7 = MakeLabel(Panel2, "Label7", "翻页间隔 ");
  pagetime = MakeSpin(Panel2, "pagetime", 2, 1000, 3);
  Button12 = MakeButton(Panel2, "Button12", "站点字体");
  Button5 = MakeButton(Panel2, "Button5", "标题字体");
  Button1 = MakeButton(Panel2, "Button1", "小标题字体");
  Button13 = MakeButton(Panel2, "Button13", "清新等级字体");
  Button3 = MakeButton(Panel2, "Button3", "数据字体");
  Button9 = MakeButton(Panel2, "Button9", "单位字体");
  Button2 = MakeButton(Panel2, "Button2", "表格颜色");
  dt1check = MakeCheck(Panel2, "dt1check", "显示清新空气");
  ggshowkind = MakeCombo(Panel2, "ggshowkind", {"随机", "左右", "百叶窗左右", "百叶窗上下", "3D效果"});
  Button4 = MakeButton(Panel2, "Button4", "立即执行");
  dtk = MakeCombo(Panel2, "dtk", {"2小时更新数据", "3小时更新数据"});
  Button14 = MakeButton(Panel2, "Button14", "发送C2");
  Button7 = MakeButton(Panel2, "Button7", "退出");
  BitBtn1 = MakeButton(Panel2, "BitBtn1", "BitBtn1");

  GroupBox8 = MakeGroup(page, "GroupBox8", "区域坐标");
  Label6 = MakeLabel(GroupBox8, "Label6", "X起点  ");
  dtx = MakeSpin(GroupBox8, "dtx", 0, kMaxAreaWidth, 0);
  Label13 = MakeLabel(GroupBox8, "Label13", "Y起点  ");
  dty = MakeSpin(GroupBox8, "dty", 0, kMaxAreaHeight, 0);
  Label14 = MakeLabel(GroupBox8, "Label14", "宽度");
  dtw = MakeSpin(GroupBox8, "dtw", 0, kMaxAreaWidth, 0);
  Label15 = MakeLabel(GroupBox8, "Label15", "高度");
  dth = MakeSpin(GroupBox8, "dth", 0, kMaxAreaHeight, 0);

  GroupBox5 = MakeGroup(page, "GroupBox5", "列宽度");
  Label8 = MakeLabel(GroupBox5, "Label8", "第一列   ");
  xx1 = MakeSpin(GroupBox5, "xx1", 0, 0, 0);
  Label9 = MakeLabel(GroupBox5, "Label9", "第二列 ");
  xx2 = MakeSpin(GroupBox5, "xx2", 0, 0, 0);
}

void TForm1::BuildAdvertisementPage() {
  TabSheet3 = MakePage(PageControl1, "TabSheet3", "广告及时钟设置", FaceFont("新宋体", Px(20)));
  QWidget* page = TabSheet3;

  Panel1 = Named(new QWidget(page), "Panel1", QString());
  GroupBox7 = MakeGroup(Panel1, "GroupBox7", "时钟");
  Label24 = MakeLabel(GroupBox7, "Label24", "X起点  ");
  tx = MakeSpin(GroupBox7, "tx", 0, kMaxAreaWidth, 0);
  Label25 = MakeLabel(GroupBox7, "Label25", "Y起点  ");
  ty = MakeSpin(GroupBox7, "ty", 0, kMaxAreaHeight, 0);
  Label26 = MakeLabel(GroupBox7, "Label26", "宽度");
  tw = MakeSpin(GroupBox7, "tw", 0, kMaxAreaWidth, 0);
  Label27 = MakeLabel(GroupBox7, "Label27", "高度");
  th = MakeSpin(GroupBox7, "th", 0, kMaxAreaHeight, 0);
  year_ = MakeCheck(GroupBox7, "year_", "年月日");
  week_ = MakeCheck(GroupBox7, "week_", "星期");
  time_ = MakeCheck(GroupBox7, "time_", "时分秒");
  Button10 = MakeButton(GroupBox7, "Button10", "显示字体");

  GroupBox1 = MakeGroup(Panel1, "GroupBox1", "字幕");
  Label16 = MakeLabel(GroupBox1, "Label16", "X起点  ");
  zmx = MakeSpin(GroupBox1, "zmx", 0, kMaxAreaWidth, 0);
  Label17 = MakeLabel(GroupBox1, "Label17", "Y起点  ");
  zmy = MakeSpin(GroupBox1, "zmy", 0, kMaxAreaHeight, 0);
  Label18 = MakeLabel(GroupBox1, "Label18", "宽度");
  zmw = MakeSpin(GroupBox1, "zmw", 0, kMaxAreaWidth, 0);
  Label23 = MakeLabel(GroupBox1, "Label23", "高度");
  zmh = MakeSpin(GroupBox1, "zmh", 0, kMaxAreaHeight, 0);
  zmcheck = MakeCheck(GroupBox1, "zmcheck", "显示");
  Button6 = MakeButton(GroupBox1, "Button6", "显示字体");
  Button6->setFont(FaceFont("宋体", Px(17)));
  fly = MakeMemo(GroupBox1, "fly", "fly", true);

  GroupBox3 = MakeGroup(page, "GroupBox3", "整屏广告");
  ListBox1 = Named(new QListWidget(GroupBox3), "ListBox1", QString());
  ListBox1->setFont(FaceFont("宋体", Px(17)));
  ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
  BitBtn2 = Named(new QPushButton(GroupBox3), "BitBtn2", U("添加"));
  BitBtn2->setToolTip(U("添加"));
  BitBtn2->setIcon(ButtonPicture(true, Px(29), Px(28)));
  BitBtn2->setIconSize(QSize(Px(29), Px(28)));
  BitBtn2->setAutoDefault(false);
  BitBtn3 = Named(new QPushButton(GroupBox3), "BitBtn3", U("删除"));
  BitBtn3->setToolTip(U("删除"));
  BitBtn3->setIcon(ButtonPicture(false, 16, 16));
  BitBtn3->setIconSize(QSize(16, 16));
  BitBtn3->setAutoDefault(false);
  gg2check = MakeCheck(GroupBox3, "gg2check", "是否显示广告");
  Memo1 = MakeMemo(GroupBox3, "Memo1", "Memo1", false);
}

void TForm1::BuildTextPage() {
  TabSheet5 = MakePage(PageControl1, "TabSheet5", "文本输入", FaceFont("宋体", Px(20)));
  QWidget* page = TabSheet5;
  Memo2 = MakeMemo(page, "Memo2", "Memo2", true);
  Memo2->setFont(FaceFont("宋体", Px(20)));
  bm = MakeCombo(page, "bm", {"居中版面", "原始版面"});
  Label28 = MakeLabel(page, "Label28", "行间距    ");
  hjj = MakeSpin(page, "hjj", 0, 0, 0);
  Button8 = MakeButton(page, "Button8", "文本字体");
  Button11 = MakeButton(page, "Button11", "效果预览");
  ggcheck = MakeCheck(page, "ggcheck", "是否显示");
}

void TForm1::BuildPreviewPage() {
  TabSheet6 = MakePage(PageControl1, "TabSheet6", "清新空气预览", font());
  PageControl2 = Named(new QTabWidget(TabSheet6), "PageControl2", QString());
  PageControl2->setTabPosition(QTabWidget::East);
  PageControl2->tabBar()->setFont(FaceFont("宋体", Px(17)));
  PageControl2->tabBar()->setExpanding(false);
  PageControl2->setUsesScrollButtons(false);
  struct Preview {
    QWidget** page;
    const char* pageName;
    PictureBox** image;
    const char* imageName;
    int station;
  };
  const Preview previews[] = {{&TabSheet7, "TabSheet7", &Image3, "Image3", 1},
                              {&TabSheet9, "TabSheet9", &Image4, "Image4", 2},
                              {&TabSheet10, "TabSheet10", &Image5, "Image5", 3},
                              {&TabSheet11, "TabSheet11", &Image6, "Image6", 4}};
  for (const Preview& p : previews) {
    auto* sheet = new QWidget;
    const QString caption = ToQString(StationName(p.station));
    PageControl2->addTab(sheet, caption);
    *p.page = Named(sheet, p.pageName, caption);
    *p.image = Named(new PictureBox(sheet), p.imageName, QString());
  }
  PageControl2->setCurrentIndex(0);
}

void TForm1::BuildLogPage() {
  TabSheet8 = MakePage(PageControl1, "TabSheet8", "通讯日志", font());
  // Every line is written in 宋体 8 points; the control's own font is 新宋体 13 pixels.
  log = Named(new LogView((8 * screenDpi_ + 36) / 72, TabSheet8), "log", QString());
  log->setFont(FaceFont("新宋体", Px(13)));
}

void TForm1::BuildStatusLine() { StatusBar1 = new StatusLine(this); }

void TForm1::ApplyGeometry() {
  for (const Place& p : kPlaces) {
    auto* w = findChild<QWidget*>(QString::fromLatin1(p.name));
    if (w) w->setGeometry(Px(p.x), Px(p.y), Px(p.w), Px(p.h));
  }
  // The pages keep their 763 x 577; the status line adds its height below them.
  const QSize pages(Px(763), Px(577));
  setFixedSize(pages.width(), pages.height() + Px(kStatusLineHeight));
  PageControl1->setGeometry(0, 0, pages.width(), pages.height());
  StatusBar1->setGeometry(0, pages.height(), pages.width(), Px(kStatusLineHeight));
  new FillParent(PageControl1, true, false);
  new FillParent(PageControl2, true, true);
  new FillParent(log, true, true);
  new FillParent(Memo2, false, true);
}

}  // namespace aqled
