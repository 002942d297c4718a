// The README's one-machine demo: the shipped docs/demo/setup.ini, the stand-in site with its
// built-in readings, the window's share server and aqled-cardsim with a 576 x 336 screen. The
// card must show whole station pages: the titles, the values left of their unit and right of
// the column line, the unit inside the frame.
//
// With AQLED_DEMO_SCREENSHOTS=<folder> the card's screen pictures are also copied there, and the
// window's preview page saved beside them (docs/screenshots holds the current ones).
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>

#include "e2e_support.h"
#include "send_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

// The layout docs/demo/setup.ini gives, as the README describes it.
constexpr int kWidth = 576;
constexpr int kHeight = 336;
constexpr int kFirstColumn = 160;   // 列1宽: x of the column line
constexpr int kRow = kHeight / 3;   // B, the height of one row
constexpr int kFrameRight = 573;    // W - 3
constexpr QRgb kYellow = 0xFFFF00;  // station title and labels
constexpr QRgb kGreen = 0x00FF00;   // big title and values
constexpr QRgb kWhite = 0xFFFFFF;   // the unit

// The bounding box of the pixels of one colour inside `area`; null when there is none.
QRect Ink(const QImage& image, QRgb colour, const QRect& area) {
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFFu) == colour) box |= QRect(x, y, 1, 1);
  return box;
}

using Demo = CardFixture;

TEST_F(Demo, TheShippedSetupIniShowsWholeStationPagesOnTheCard) {
  // The stand-in site as the demo starts it: station 4 prints "-" and is left out.
  for (int n = 1; n <= 4; ++n) stationsite::ServeStation(site, n, stationsite::DefaultSetup(n));
  const quint16 sharePort = FreePort();
  WithConfig("[Path]\r\nFileBaseDir=\r\nHttpBaseDir=http://127.0.0.1:" + std::to_string(sharePort) +
             "/share/\r\n" + SiteKeys() + "[Set]\r\nsendkind=1\r\nShareServer=1\r\n");
  std::filesystem::copy_file(std::filesystem::path(AQLED_SOURCE_DIR) / "docs" / "demo" / "setup.ini",
                             folder / "setup.ini");
  auto form = Start();
  ASSERT_EQ(Lines(*form).end()[-2], "共享服务启动成功: " + std::to_string(sharePort));
  EXPECT_EQ(Control<SpinEdit>(*form, "dtw")->Value(), kWidth);
  EXPECT_EQ(Control<SpinEdit>(*form, "dth")->Value(), kHeight);
  EXPECT_EQ(Control<SpinEdit>(*form, "xx1")->Value(), kFirstColumn);
  EXPECT_EQ(U(form->Captions().fresh[6]), "祯埠镇") << "the station's name is its title";

  StartCard(CardsimArgs(form->Link().ServerPort(), "DEMO-1", "lobby", kWidth, kHeight, folder, 30));
  ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); }));
  dialogs.confirm = true;
  Control<QPushButton>(*form, "Button14")->click();
  ASSERT_TRUE(WaitFor([&] { return Lines(*form).back() == "标签: DEMO-1, 名称: lobby, 发送成功."; }, 20000))
      << ::testing::PrintToString(Lines(*form));

  const QDir screens(QString::fromStdString((folder / "card-screen").string()));
  ASSERT_EQ(screens.entryList({"program_*.png"}, QDir::Files).size(), 3) << "stations 1 to 3";
  const QString copies = qEnvironmentVariable("AQLED_DEMO_SCREENSHOTS");
  if (!copies.isEmpty()) {
    // The window's page "清新空气预览" after the send, as the README shows it.
    QDir().mkpath(copies);
    Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(3);
    EXPECT_TRUE(form->grab().save(copies + "/demo_previews.png"));
  }
  for (int k = 1; k <= 3; ++k) {
    const QString name = QString("program_%1.png").arg(k, 3, 10, QChar('0'));
    const QImage shown = QImage(screens.filePath(name)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(kWidth, kHeight)) << k;
    if (!copies.isEmpty()) {
      QDir().mkpath(copies);
      QFile::remove(copies + "/card_" + name);
      EXPECT_TRUE(QFile::copy(screens.filePath(name), copies + "/card_" + name));
    }
    // The title row: station name and big title, whole, inside the frame.
    const QRect title =
        Ink(shown, kYellow, QRect(0, 0, kWidth, kRow)) | Ink(shown, kGreen, QRect(0, 0, kWidth, kRow));
    ASSERT_FALSE(title.isNull()) << k;
    EXPECT_GT(title.left(), 4) << k;
    EXPECT_LT(title.right(), kFrameRight - 1) << k;
    for (int row = 1; row <= 2; ++row) {
      const QRect area(0, row * kRow + 2, kWidth, kRow - 4);
      const QRect label = Ink(shown, kYellow, area);
      const QRect value = Ink(shown, kGreen, area);
      const QRect unit = Ink(shown, kWhite, area);
      ASSERT_FALSE(label.isNull() || value.isNull() || unit.isNull()) << k << " row " << row;
      EXPECT_LT(label.right(), kFirstColumn - 2) << "the label left of the column line, " << k;
      EXPECT_GT(value.left(), kFirstColumn + 2) << "the value right of the column line, " << k;
      EXPECT_LT(value.right(), unit.left()) << "the value left of its unit, " << k;
      EXPECT_LT(unit.right(), kFrameRight - 1) << "the unit inside the frame, " << k;
    }
  }
}

}  // namespace
