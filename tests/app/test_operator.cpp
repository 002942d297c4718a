// What the operator meets: a start-up that names what failed and still serves the screen, texts
// that a save never loses, folders of any name, the viewer, the advertisement list, the
// previews at any density, the log control and Qt's own texts in Chinese.
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "app/platform.h"
#include "app_fixture.h"
#include "card.h"
#include "link/frame.h"
#include "render/previews.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

const QColor kRed(255, 0, 0);

// The screen lines without their time stamps (UTF-8).
std::vector<std::string> Lines(const TForm1& form) {
  std::vector<std::string> out;
  for (int i = 0; i < Control<LogView>(form, "log")->LineCount(); ++i)
    out.push_back(Control<LogView>(form, "log")->LineText(i).mid(14).toStdString());
  return out;
}

// True when something answers a connection on the loopback port.
bool Answers(quint16 port) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  return socket.waitForConnected(5000);
}

// The operator's files as they were before start-up (GBK).
struct OperatorFiles {
  std::string setup = G("[清新空气设置]\r\n站点1=祯埠镇\r\n[其它设置]\r\ndtw=576\r\ndth=336\r\n");
  std::string fly = G("今日空气清新");
  std::string gg = "/p/a.jpg\r\n/p/b.bmp\r\n";
  std::string txt = G("文本页\r\n第二行");
};

struct Operator : AppFolderFixture {
  // config.ini with the share server on a free loopback port, and the operator's four files.
  void WithOperatorFiles() {
    sharePort = FreePort();
    WithConfig("[Path]\r\nHttpBaseDir=http://127.0.0.1:" + std::to_string(sharePort) +
               "/share/\r\n[Set]\r\nShareServer=1\r\nAutoSend=0\r\n");
    WithLogFolder();
    WriteAll(folder / "setup.ini", files.setup);
    WriteAll(folder / "fly.txt", files.fly);
    WriteAll(folder / "gg.txt", files.gg);
    WriteAll(folder / "txt.txt", files.txt);
  }
  // Start-up went on past its failure: both servers listen and the timer runs.
  void ExpectServing(const TForm1& form) {
    EXPECT_TRUE((&form.Link().ServerSvr1())->isListening());
    EXPECT_TRUE(Answers(port)) << "controller port " << port;
    EXPECT_TRUE(Answers(sharePort)) << "share port " << sharePort;
    EXPECT_TRUE(Control<QTimer>(form, "Timer1")->isActive());
    EXPECT_EQ(Control<QTabWidget>(form, "PageControl1")->currentIndex(), 4);
  }
  std::string PortLine() const { return "启动端口成功: " + std::to_string(port); }
  std::string ShareLine() const { return "共享服务启动成功: " + std::to_string(sharePort); }
  std::string ShareAddressLine() const { return "共享服务地址: 127.0.0.1:" + std::to_string(sharePort); }

  OperatorFiles files;
  quint16 sharePort = 0;
};

// --- start-up failures and the texts a save must not lose -------------------------------------

struct StartupFailure {
  const char* name;
  void (*make)(const std::filesystem::path& folder);
  const char* line;  // UTF-8 after the folder; %s where the folder's path goes
  bool flyUnread;    // fly.txt could not be read: a save leaves it as it is
};
void PrintTo(const StartupFailure& c, std::ostream* os) { *os << c.name; }

class LostTexts : public Operator, public ::testing::WithParamInterface<StartupFailure> {};

TEST_P(LostTexts, StartUpNamesTheFailureServesAndASaveKeepsEveryText) {
  WithOperatorFiles();
  GetParam().make(folder);
  const std::string flyBefore = ReadAll(folder / "fly.txt");
  auto form = Start();
  ASSERT_FALSE(form->QuitRequested());
  std::string failure = GetParam().line;
  failure.replace(failure.find("%s"), 2, folder.string());
  EXPECT_EQ(Lines(*form),
            (std::vector<std::string>{"程序开始运行", failure, PortLine(), ShareLine(), ShareAddressLine()}));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(1), kRed);
  EXPECT_NE(ReadAll(folder / "log" / "Log20240305.txt").find(G(failure.c_str())), std::string::npos);
  ExpectServing(*form);
  EXPECT_EQ(Control<SpinEdit>(*form, "dtw")->Value(), 576);
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 2);

  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(0);
  Control<QPushButton>(*form, "Button4")->click();
  EXPECT_EQ(ReadAll(folder / "gg.txt"), files.gg);
  EXPECT_EQ(ReadAll(folder / "txt.txt"), files.txt);
  if (GetParam().flyUnread) {
    EXPECT_EQ(ReadAll(folder / "fly.txt"), flyBefore);
    EXPECT_EQ(Lines(*form).back(),
              "未保存 " + (folder / "fly.txt").string() + ": 启动时未能读取此文件, 文件保持原样");
    EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(Control<LogView>(*form, "log")->LineCount() - 1),
              kRed);
  } else {
    EXPECT_EQ(ReadAll(folder / "fly.txt"), files.fly);
    EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 5) << "nothing to report";
  }
  const IniFile saved(ReadAll(folder / "setup.ini"));
  EXPECT_EQ(saved.Value(G("其它设置"), "dtw"), "576");
  EXPECT_EQ(saved.Value(G("清新空气设置"), G("站点1")), G("祯埠镇"));
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 4);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, LostTexts,
    ::testing::Values(StartupFailure{"AFileNamedFile",
                                     [](const std::filesystem::path& f) {
                                       WriteAll(f / "file", "not a folder");
                                     },
                                     "创建文件夹失败: %s/file/ (已有同名的文件)", false},
                      StartupFailure{"FlyTxtIsAFolder",
                                     [](const std::filesystem::path& f) {
                                       std::filesystem::remove(f / "fly.txt");
                                       std::filesystem::create_directory(f / "fly.txt");
                                     },
                                     "读取文件失败: %s/fly.txt (是文件夹, 不是文件), 保存时保留原文件", true},
                      // One byte past the limit: not a subtitle the application wrote.
                      StartupFailure{"FlyTxtTooLarge",
                                     [](const std::filesystem::path& f) {
                                       WriteAll(f / "fly.txt", std::string(1024 * 1024 + 1, 'x'));
                                     },
                                     "读取文件失败: %s/fly.txt (文件过大: 1048577 字节, 最多 1048576 字节), "
                                     "保存时保留原文件",
                                     true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Operator, AnUnreadableSetupIniIsNeverReplacedEvenWhenItCanBeReadLater) {
  WithOperatorFiles();
  std::filesystem::remove(folder / "setup.ini");
  std::filesystem::create_directory(folder / "setup.ini");
  auto form = Start();
  EXPECT_EQ(Lines(*form)[1],
            "读取文件失败: " + (folder / "setup.ini").string() + " (是文件夹, 不是文件), 保存时保留原文件");
  EXPECT_EQ(Control<SpinEdit>(*form, "dtw")->Value(), 0) << "the defaults";
  // The file comes back readable before the save: the window never held its values.
  std::filesystem::remove(folder / "setup.ini");
  WriteAll(folder / "setup.ini", files.setup);
  Control<QPushButton>(*form, "Button4")->click();
  EXPECT_EQ(ReadAll(folder / "setup.ini"), files.setup);
  EXPECT_EQ(Lines(*form).back(),
            "未保存 " + (folder / "setup.ini").string() + ": 启动时未能读取此文件, 文件保持原样");
  EXPECT_EQ(ReadAll(folder / "fly.txt"), files.fly) << "the other files are saved";
}

// Runs as an unprivileged user while it lives when the tests run as root, for whom no
// permission bit applies.
class Unprivileged {
 public:
  Unprivileged() {
    if (geteuid() == 0 && setegid(kNobody) == 0) dropped_ = seteuid(kNobody) == 0;
  }
  ~Unprivileged() {
    if (dropped_ && seteuid(0) == 0) setegid(0);
  }
  Unprivileged(const Unprivileged&) = delete;
  Unprivileged& operator=(const Unprivileged&) = delete;
  bool Active() const { return geteuid() != 0; }

 private:
  static constexpr uid_t kNobody = 65534;
  bool dropped_ = false;
};

TEST_F(Operator, AReadOnlyApplicationFolderIsNamedAndTheScreenIsStillServed) {
  WithOperatorFiles();
  namespace fs = std::filesystem;
  fs::permissions(folder / "log", fs::perms::all);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  std::unique_ptr<TForm1> form;
  std::vector<std::string> lines;
  {
    Unprivileged user;
    if (!user.Active()) {
      fs::permissions(folder, fs::perms::owner_all);
      GTEST_SKIP() << "no unprivileged user to run as";
    }
    form = Start();
    lines = Lines(*form);
    ExpectServing(*form);
    Control<QPushButton>(*form, "Button4")->click();
  }
  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_EQ(lines, (std::vector<std::string>{"程序开始运行",
                                             "创建文件夹失败: " + (folder / "file").string() + "/ (没有权限)",
                                             PortLine(), ShareLine(), ShareAddressLine()}));
  EXPECT_EQ(Lines(*form).back(), "保存文件失败: " + (folder / "setup.ini").string() + ": Permission denied");
  EXPECT_EQ(ReadAll(folder / "setup.ini"), files.setup);
  EXPECT_EQ(ReadAll(folder / "gg.txt"), files.gg);
}

// --- a folder whose name GBK cannot hold ----------------------------------------------------

TEST_F(Operator, AFolderNamedInKoreanWorksThroughout) {
  const std::filesystem::path korean = folder / std::filesystem::path(u8"한글 폴더");
  std::filesystem::create_directories(korean / "log");
  std::filesystem::create_directories(korean / "share");
  const quint16 share = FreePort();
  WriteAll(korean / "config.ini", "[Path]\r\nHttpBaseDir=http://127.0.0.1:" + std::to_string(share) +
                                      "/share/\r\n[Set]\r\nShareServer=1\r\nAutoSend=0\r\n");
  WriteAll(korean / "setup.ini", files.setup);
  std::filesystem::create_directory(korean / "txt.txt");  // one unreadable file, to see its line
  WriteAll(korean / "share" / "001.bmp", "picture");
  WriteAll(korean / u8"광고.jpg", "advert");

  appFolder = GbkFromPath(korean) + "/";
  auto form = Start();
  ASSERT_FALSE(form->QuitRequested()) << "config.ini is found";
  EXPECT_TRUE(dialogs.messages.empty());
  EXPECT_EQ(Control<SpinEdit>(*form, "dtw")->Value(), 576);
  EXPECT_TRUE(std::filesystem::is_directory(korean / "file"));
  // The log shows the folder's name as it is, and writes its file there.
  const std::string unread =
      "读取文件失败: " + (korean / "txt.txt").string() + " (是文件夹, 不是文件), 保存时保留原文件";
  EXPECT_EQ(Lines(*form)[1], unread);
  EXPECT_NE(ReadAll(korean / "log" / "Log20240305.txt").find("08:05:09:042 " + G("程序开始运行")),
            std::string::npos);
  // The share server publishes the share folder inside it.
  EXPECT_EQ(Lines(*form).end()[-2], "共享服务启动成功: " + std::to_string(share));
  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, share);
  ASSERT_TRUE(client.waitForConnected(5000));
  client.write("GET /share/001.bmp HTTP/1.0\r\n\r\n");
  QByteArray answer;
  EXPECT_TRUE(WaitFor([&] {
    answer += client.readAll();
    return answer.endsWith("\r\n\r\npicture");
  })) << answer.toStdString();

  // The text page preview writes and opens g.bmp inside it.
  Control<QPushButton>(*form, "Button11")->click();
  ASSERT_EQ(viewer.opened.size(), 1u);
  EXPECT_EQ(PathFromGbk(viewer.opened[0]), korean / "file" / "g.bmp");
  EXPECT_TRUE(std::filesystem::is_regular_file(korean / "file" / "g.bmp"));
  // An advertisement from it is copied under its own name, and opens.
  dialogs.fileAnswer = GbkFromPath(korean / u8"광고.jpg");
  Control<QPushButton>(*form, "BitBtn2")->click();
  EXPECT_EQ(ReadAll(korean / "file" / u8"광고.jpg"), "advert");
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->item(0)->text(),
            QString::fromStdString((korean / u8"광고.jpg").string()));
  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(0);
  form->ListBox1DblClick();
  ASSERT_EQ(viewer.opened.size(), 2u);
  EXPECT_EQ(PathFromGbk(viewer.opened[1]), korean / u8"광고.jpg");
  // A save writes its files there.
  Control<QPlainTextEdit>(*form, "fly")->setPlainText(QString::fromUtf8("新字幕"));
  Control<QPushButton>(*form, "Button4")->click();
  EXPECT_EQ(ReadAll(korean / "fly.txt"), G("新字幕"));
  EXPECT_EQ(ReadAll(korean / "gg.txt"), GbkFromPath(korean / u8"광고.jpg") + "\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(korean / "txt.txt"));
}

// --- the picture viewer ---------------------------------------------------------------------

TEST_F(Operator, AViewerThatCannotBeStartedIsReportedNamingTheFile) {
  WithConfig();
  auto form = Start();
  Control<SpinEdit>(*form, "dtw")->SetValue(64);
  Control<SpinEdit>(*form, "dth")->SetValue(32);
  viewer.starts = false;
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(2);
  Control<QPushButton>(*form, "Button11")->click();
  const std::string page = appFolder + "file/g.bmp";
  const std::string text = "无法启动图片查看程序, 未能打开 " + page;
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(U(dialogs.messages[0]), text);
  EXPECT_EQ(Lines(*form).back(), text);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(Control<LogView>(*form, "log")->LineCount() - 1),
            kRed);

  WriteAll(folder / "ad.bmp", "bmp");
  dialogs.fileAnswer = (folder / "ad.bmp").string();
  Control<QPushButton>(*form, "BitBtn2")->click();
  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(0);
  form->ListBox1DblClick();
  ASSERT_EQ(dialogs.messages.size(), 2u);
  EXPECT_EQ(U(dialogs.messages[1]), "无法启动图片查看程序, 未能打开 " + (folder / "ad.bmp").string());
  EXPECT_EQ(viewer.opened.size(), 2u);
}

// --- the advertisement list -----------------------------------------------------------------

TEST_F(Operator, DeleteOrEscPressedTwiceRemovesOneEntry) {
  WithConfig();
  WriteAll(folder / "gg.txt", "/p/a.jpg\r\n/p/b.jpg\r\n/p/c.jpg\r\n/p/d.jpg\r\n");
  auto form = Start();
  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(1);
  Control<QPushButton>(*form, "BitBtn3")->click();
  EXPECT_TRUE(Control<QListWidget>(*form, "ListBox1")->selectedItems().isEmpty());
  Control<QPushButton>(*form, "BitBtn3")->click();
  ASSERT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 3);
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->item(1)->text(), "/p/c.jpg");

  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(1);
  Control<QListWidget>(*form, "ListBox1")->setFocus();
  Control<QListWidget>(*form, "ListBox1")->setCurrentRow(0);
  QTest::keyClick(Control<QListWidget>(*form, "ListBox1"), Qt::Key_Escape);
  QTest::keyClick(Control<QListWidget>(*form, "ListBox1"), Qt::Key_Escape);
  ASSERT_EQ(Control<QListWidget>(*form, "ListBox1")->count(), 2);
  EXPECT_EQ(Control<QListWidget>(*form, "ListBox1")->item(0)->text(), "/p/c.jpg");
  EXPECT_TRUE(Control<QListWidget>(*form, "ListBox1")->selectedItems().isEmpty());
}

// --- the previews at any screen density -----------------------------------------------------

struct Density {
  int dpi;
  QSize control;  // the preview control, 709 x 414 at 120 pixels per inch
};
void PrintTo(const Density& d, std::ostream* os) { *os << d.dpi << " dpi"; }

class PreviewDensity : public AppFolderFixture, public ::testing::WithParamInterface<Density> {};

TEST_P(PreviewDensity, ShowsTheWholePreviewInItsControl) {
  WithConfig();
  const int dpi = GetParam().dpi;
  TForm1 form(FormOptions{appFolder, &clock, &dialogs, port, &viewer, dpi});
  form.FormCreate();
  // A station page of the full display area with a green right column and a blue bottom row,
  // on the preview as a send draws it.
  QImage page(576, 336, QImage::Format_RGB32);
  page.fill(Qt::black);
  for (int y = 0; y < 336; ++y)
    for (int x = 568; x < 576; ++x) page.setPixel(x, y, qRgb(0, 255, 0));
  for (int y = 328; y < 336; ++y)
    for (int x = 0; x < 568; ++x) page.setPixel(x, y, qRgb(0, 0, 255));
  QImage preview = PagePreview(page);
  for (int y = 0; y < kPreviewHeight; ++y) preview.setPixel(kPreviewWidth - 1, y, qRgb(255, 0, 0));
  for (int x = 0; x < kPreviewWidth; ++x) preview.setPixel(x, kPreviewHeight - 1, qRgb(255, 0, 0));
  PictureBox* box = form.StationPreview(1);
  box->SetPicture(preview);

  const QSize control = GetParam().control;
  ASSERT_EQ(box->size(), control);
  const QImage shown = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(shown.size(), control);
  const double scale = control.width() / 709.0;
  // The page's right column and bottom row, and the preview's last column and row, are seen.
  const int pageRight = static_cast<int>(572 * scale);
  const int pageBottom = static_cast<int>(332 * scale);
  EXPECT_EQ(QColor(shown.pixel(pageRight, control.height() / 3)), QColor(0, 255, 0)) << pageRight;
  EXPECT_EQ(QColor(shown.pixel(control.width() / 3, pageBottom)), QColor(0, 0, 255)) << pageBottom;
  EXPECT_GT(qRed(shown.pixel(control.width() - 1, control.height() / 2)), 100);
  EXPECT_GT(qRed(shown.pixel(control.width() / 2, control.height() - 1)), 100);
}

INSTANTIATE_TEST_SUITE_P(Screens, PreviewDensity,
                         ::testing::Values(Density{96, {567, 331}}, Density{120, {709, 414}}),
                         [](const auto& info) { return std::to_string(info.param.dpi) + "dpi"; });

// --- the log control ------------------------------------------------------------------------

TEST_F(Operator, TypingDoesNotChangeTheLogButItsTextCanBeCopied) {
  WithConfig();
  auto form = Start();
  form->show();
  QApplication::setActiveWindow(form.get());
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(4);
  Control<LogView>(*form, "log")->setFocus();
  const int lines = Control<LogView>(*form, "log")->LineCount();
  const QString first = Control<LogView>(*form, "log")->LineText(0);
  QTest::keyClicks(Control<LogView>(*form, "log"), "typed over");
  QTest::keyClick(Control<LogView>(*form, "log"), Qt::Key_Return);
  QTest::keyClick(Control<LogView>(*form, "log"), Qt::Key_Backspace);
  QTest::keyClick(Control<LogView>(*form, "log"), Qt::Key_Delete);
  QApplication::clipboard()->setText("pasted");
  QTest::keyClick(Control<LogView>(*form, "log"), Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), lines);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(0), first);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(0), QColor(255, 255, 0));

  QTest::keyClick(Control<LogView>(*form, "log"), Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(Control<LogView>(*form, "log"), Qt::Key_C, Qt::ControlModifier);
  EXPECT_TRUE(QApplication::clipboard()->text().startsWith(first))
      << QApplication::clipboard()->text().toStdString();
  // The log still takes its lines.
  form->AppendLog(3, "x");
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), lines + 1);
}

TEST_F(Operator, ACardsHeartbeatsFoldIntoOneScreenLineAndStayWholeInTheFile) {
  WithConfig();
  WithLogFolder();
  auto form = Start();
  Card card{clock};
  ASSERT_TRUE(card.LogIn(port, "ZJ-LISHUI-1"));
  ASSERT_TRUE(WaitFor([&] { return !card.Times("Login").empty(); }));
  for (int beat = 1; beat <= 3; ++beat) {
    clock.Advance(10000);
    ASSERT_TRUE(card.Heartbeat());
    const std::string line = beat == 1 ? R"(收到:{"name":"heartbeat"})"
                                       : "[标签:ZJ-LISHUI-1] 收到心跳 ×" + std::to_string(beat) +
                                             ", 最后 08:05:" + std::to_string(9 + 10 * beat);
    ASSERT_TRUE(WaitFor([&] { return Lines(*form).back() == line; })) << line << " / " << Lines(*form).back();
  }
  const std::string file = U(ReadAll(folder / "log" / "Log20240305.txt"));
  for (const char* stamp : {"08:05:19:042 ", "08:05:29:042 ", "08:05:39:042 "}) {
    EXPECT_NE(file.find(std::string(stamp) + R"(收到:{"name":"heartbeat"})" + "\r\n"), std::string::npos)
        << stamp;
  }
}

// --- leaving --------------------------------------------------------------------------------

// A frame header announcing `total` bytes, far more than any frame may have: bad data.
std::string OversizedFrameHeader(std::uint32_t total) {
  std::string frame = BuildFrameUtf8(2, "{}");
  for (int i = 0; i < 4; ++i) frame[4 + i] = static_cast<char>((total >> (8 * i)) & 0xFF);
  unsigned char check = 0;
  for (int i = 0; i < 31; ++i) check ^= static_cast<unsigned char>(frame[i]);
  frame[31] = static_cast<char>(check);
  return frame;
}

TEST_F(Operator, BadDataCountedButNotYetSummedUpIsLoggedWhenTheWindowCloses) {
  WithConfig();
  WithLogFolder();
  auto form = Start();
  int reads = 0;
  QObject::connect(&form->Link(), &ControllerLink::BytesHandled, [&] { ++reads; });
  Card peer(form->Link().ServerPort());
  ASSERT_TRUE(peer.connected);
  // One bad frame per read: the first ten get their line, the rest are counted for the
  // summary, whose window never ends on the test's clock.
  for (int i = 0; i < 15; ++i) {
    const int before = reads;
    peer.Write(OversizedFrameHeader(5000000));
    ASSERT_TRUE(WaitFor([&] { return reads > before; }));
  }
  const auto lines = Lines(*form);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "错误:帧长度 5000000 超出范围"), 10);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "另有 5 段异常数据未逐条记录"), 0);
  form.reset();
  EXPECT_NE(
      ReadAll(folder / "log" / "Log20240305.txt").find(G("08:05:09:042 另有 5 段异常数据未逐条记录\r\n")),
      std::string::npos);
}

// --- Qt's own texts -------------------------------------------------------------------------

TEST(QtTexts, StandardButtonsAndTheFileDialogReadChinese) {
  QTranslator* translator = InstallQtTranslations();
  ASSERT_NE(translator, nullptr) << "qtbase_zh_CN.qm (qt6-translations-l10n) is missing";
  QMessageBox box(QMessageBox::Question, "t", "x", QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QString::fromUtf8("确定"));
  EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QString::fromUtf8("取消"));
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  const auto* buttons = dialog.findChild<QDialogButtonBox*>();
  ASSERT_NE(buttons, nullptr);
  ASSERT_NE(buttons->button(QDialogButtonBox::Open), nullptr);
  EXPECT_TRUE(buttons->button(QDialogButtonBox::Open)->text().startsWith(QString::fromUtf8("打开")))
      << buttons->button(QDialogButtonBox::Open)->text().toStdString();
  QCoreApplication::removeTranslator(translator);
  delete translator;
}

// --- the executable and its command line ----------------------------------------------------

// The built program copied into `folder` beside a config.ini, started with `args` and
// AQLED_SCREENSHOTS, so that it starts, saves its pages as pictures and ends.
struct Program : ::testing::Test {
  QTemporaryDir dir;

  // Runs the copy in `folder`; the exit code, or -1 when it did not end normally in time.
  int Run(const std::filesystem::path& folder, const QStringList& args, const QString& shots) {
    std::filesystem::create_directories(folder / "log");
    WriteAll(folder / "config.ini", "[Set]\r\nShareServer=0\r\n");
    const std::filesystem::path exe = folder / "aqled";
    std::filesystem::copy_file(BuiltProgram("aqled").toStdString(), exe,
                               std::filesystem::copy_options::overwrite_existing);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("AQLED_SCREENSHOTS", shots);
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(QString::fromStdString(exe.string()), args);
    if (!program.waitForFinished(60000)) {
      program.kill();
      program.waitForFinished(5000);
      return -1;
    }
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  }
  std::filesystem::path Root() const { return std::filesystem::path(dir.path().toStdString()); }
};

// The share of pixels in which two pictures of one size differ.
double Difference(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.isNull()) return 1.0;
  qint64 differing = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) differing += a.pixel(x, y) != b.pixel(x, y);
  return static_cast<double>(differing) / (static_cast<double>(a.width()) * a.height());
}

TEST_F(Program, QtOptionsOnTheCommandLineAreIgnored) {
  const QString root = dir.path();
  ASSERT_EQ(Run(Root() / "plain", {}, root + "/plain-shots"), 0);
  // Acted on, "-platform bogus" ends the program before any window.
  EXPECT_EQ(Run(Root() / "bogus", {"-platform", "bogus"}, root + "/bogus-shots"), 0);
  EXPECT_TRUE(QFile::exists(root + "/bogus-shots/page0.png"));
  // Acted on, "-reverse" mirrors every page and "-stylesheet" repaints it.
  WriteAll(Root() / "red.qss", "QWidget { background: red; }");
  EXPECT_EQ(Run(Root() / "reverse", {"-reverse", "-stylesheet", root + "/red.qss", "extra"},
                root + "/reverse-shots"),
            0);
  for (const char* page : {"page0.png", "page1.png", "page2.png"}) {
    const QImage plain(root + "/plain-shots/" + page);
    ASSERT_FALSE(plain.isNull()) << page;
    // A text cursor may blink differently; a mirrored or repainted page differs everywhere.
    EXPECT_LT(Difference(plain, QImage(root + "/bogus-shots/" + page)), 0.005) << page;
    EXPECT_LT(Difference(plain, QImage(root + "/reverse-shots/" + page)), 0.005) << page;
  }
}

TEST_F(Program, StartsFromAFolderNamedInKorean) {
  const std::filesystem::path korean = Root() / std::filesystem::path(u8"한글");
  ASSERT_EQ(Run(korean, {}, dir.path() + "/shots"), 0) << "without config.ini it would wait at its message";
  EXPECT_TRUE(QFile::exists(dir.path() + "/shots/page4.png"));
  EXPECT_TRUE(std::filesystem::is_directory(korean / "file"));
  std::string log;
  for (const auto& entry : std::filesystem::directory_iterator(korean / "log")) log += ReadAll(entry.path());
  EXPECT_NE(log.find(G("程序开始运行")), std::string::npos) << log;
}

}  // namespace
