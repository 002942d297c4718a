#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <limits>

#include "settings/display_settings.h"
#include "settings/file_io.h"
#include "settings/file_problem.h"
#include "test_support.h"

using namespace aqled;
using aqled::testing::G;
using aqled::testing::RecordingLog;
using aqled::testing::U;

namespace {

std::string ReadAll(const std::filesystem::path& p) {
  return ReadFileWhole(p, std::numeric_limits<std::uintmax_t>::max()).value_or("<missing>");
}
void WriteAll(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

struct Folder : ::testing::Test {
  QTemporaryDir dir;
  std::filesystem::path base{dir.path().toStdString()};
  RecordingLog log;
};

TEST(DisplaySettings, DefaultsWithoutAFile) {
  const DisplaySettings s = DefaultDisplaySettings();
  const DisplayControls& c = s.controls;
  EXPECT_TRUE(c.zmcheck);
  EXPECT_TRUE(c.dt1check);
  EXPECT_FALSE(c.ggcheck);
  EXPECT_FALSE(c.ggcheck2);
  EXPECT_EQ(c.ggshowkind, 1);
  EXPECT_EQ(c.pagetime, 10);
  EXPECT_EQ(c.col1, 110);
  EXPECT_EQ(c.col2, 80);
  EXPECT_EQ(c.hjj, 3);
  EXPECT_EQ(c.bmsel, 0);
  EXPECT_EQ(c.dtk, 0);
  for (int v : {c.dtx, c.dty, c.dtw, c.dth, c.zmx, c.zmy, c.zmw, c.zmh, c.tx, c.ty, c.tw, c.th})
    EXPECT_EQ(v, 0);
  EXPECT_FALSE(c.year_ || c.week_ || c.time_);

  const FontSlot song{G("宋体"), 16, 255, 0};
  for (const FontSlot* f : {&s.fonts.zd, &s.fonts.qxdj, &s.fonts.bt, &s.fonts.dt, &s.fonts.dw, &s.fonts.bz,
                            &s.fonts.bz2, &s.fonts.time}) {
    EXPECT_EQ(*f, song);
  }
  EXPECT_EQ(s.fonts.clock, (FontSlot{G("宋体"), 1, 1, 1}));
  EXPECT_EQ(s.fonts.wgcolor, 255);

  const std::array<std::string, 10> fresh{
      G("气体"), G("左上区"),        G("左下区"),      G("右上区"),     G("右下区"),
      G("标准"), G("硫化氢(mg/m3)"), G("氨气(mg/m3)"), G("OU(无量纲)"), G("VOC(mg/m3)")};
  EXPECT_EQ(s.captions.fresh, fresh);
  for (const std::string& a : s.captions.ambient) EXPECT_EQ(a, G("甲硫醇"));
}

TEST(DisplaySettings, ReadsEverySectionWithTheReadingRules) {
  const IniFile ini(
      G("[清新空气设置]\r\n大标题=  空气质量 \r\n站点3=PM2.5\r\n"
        "[环境空气设置]\r\n小标题7=七\r\n"
        "[其它设置]\r\n字符串=\\\\pc\\file\r\nZMCHECK=0\r\nggcheck2=5\r\nggshowkind=7\r\n"
        "pagetime=1\r\n列1宽=5000\r\n列2宽=-4\r\nDTW=0x240\r\nhjj=x\r\nname=黑体\r\nsize=$0C\r\n"
        "[字体设置]\r\nbzname2=楷体\r\nbzsize2=20\r\nbzstyle=1\r\nwgcolor=65280\r\n"));
  const DisplaySettings s = LoadDisplaySettings(ini);
  EXPECT_EQ(s.captions.fresh[0], G("空气质量"));
  EXPECT_EQ(s.captions.fresh[8], "PM2.5");
  EXPECT_EQ(s.captions.fresh[9], "VOC(mg/m3)");
  EXPECT_EQ(s.captions.ambient[7], G("七"));
  EXPECT_EQ(s.captions.share, "\\\\pc\\file");
  EXPECT_FALSE(s.controls.zmcheck);
  EXPECT_TRUE(s.controls.ggcheck2);
  EXPECT_EQ(s.controls.ggshowkind, 7);  // the window decides what an index out of its list means
  EXPECT_EQ(s.controls.pagetime, 1);    // and brings values into its ranges
  EXPECT_EQ(s.controls.col1, 5000);
  EXPECT_EQ(s.controls.col2, -4);
  EXPECT_EQ(s.controls.dtw, 576);
  EXPECT_EQ(s.controls.hjj, 3);
  EXPECT_EQ(s.fonts.clock, (FontSlot{G("黑体"), 12, 1, 1}));
  EXPECT_EQ(s.fonts.bz2, (FontSlot{G("楷体"), 20, 255, 0}));
  EXPECT_EQ(s.fonts.bz, (FontSlot{G("宋体"), 16, 255, 1}));
  EXPECT_EQ(s.fonts.wgcolor, 65280);
}

TEST(DisplaySettings, ASaveIntoNoFileWritesBothSectionsInTheirOrder) {
  DisplaySettings s = DefaultDisplaySettings();
  s.controls.left = 120;
  s.controls.top = -8;
  s.fonts.bz2.size = 9;
  IniFile ini;
  StoreDisplaySettings(s.controls, s.fonts, ini);
  const std::string expected =
      G("[其它设置]\r\nzmcheck=1\r\ndt1check=1\r\nggcheck=0\r\nggcheck2=0\r\nggshowkind=1\r\nleft=120\r\ntop="
        "-8\r\n"
        "pagetime=10\r\ncolor=1\r\nstyle=1\r\nsize=1\r\nname=宋体\r\n列1宽=110\r\n列2宽=80\r\n"
        "dtx=0\r\ndty=0\r\ndtw=0\r\ndth=0\r\nzmx=0\r\nzmy=0\r\nzmw=0\r\nzmh=0\r\ntx=0\r\nty=0\r\ntw=0\r\nth="
        "0\r\n"
        "year_=0\r\nweek_=0\r\ntime_=0\r\ndtk=0\r\nbmsel=0\r\nhjj=3\r\n"
        "\r\n[字体设置]\r\n"
        "zdname=宋体\r\nzdsize=16\r\nzdcolor=255\r\nzdstyle=0\r\n"
        "qxdjname=宋体\r\nqxdjsize=16\r\nqxdjcolor=255\r\nqxdjstyle=0\r\n"
        "btname=宋体\r\nbtsize=16\r\nbtcolor=255\r\nbtstyle=0\r\n"
        "dtname=宋体\r\ndtsize=16\r\ndtcolor=255\r\ndtstyle=0\r\n"
        "dwname=宋体\r\ndwsize=16\r\ndwcolor=255\r\ndwstyle=0\r\n"
        "bzname=宋体\r\nbzsize=16\r\nbzcolor=255\r\nbzstyle=0\r\n"
        "bzname2=宋体\r\nbzsize2=9\r\nbzcolor2=255\r\nbzstyle2=0\r\n"
        "timename=宋体\r\ntimesize=16\r\ntimecolor=255\r\ntimestyle=0\r\n"
        "wgcolor=255\r\n");
  EXPECT_EQ(ini.Bytes(), expected);
}

TEST_F(Folder, SaveAndLoadRoundTripEveryWrittenValue) {
  DisplaySettings s;
  DisplayControls& c = s.controls;
  c = {false, false, true, true, -1, 0,  0,  999, -20,  7,    1,    2, 3,  4,
       5,     6,     7,    8,    9,  10, 11, 12,  true, true, true, 1, -2, 1};
  DisplayFonts& f = s.fonts;
  f.zd = {G("黑体"), 30, 0x00FF00, 1};
  f.qxdj = {"Arial", 8, 1, 0};
  f.bt = {G("楷体"), 9, 2, 1};
  f.dt = {"a", 10, 3, 0};
  f.dw = {"b", 11, 4, 1};
  f.bz = {"c", 12, 5, 0};
  f.bz2 = {"d", 13, 6, 1};
  f.time = {"e", 14, 7, 0};
  f.clock = {"f", 15, 8, 0};
  f.wgcolor = 0x123456;
  ASSERT_TRUE(SaveDisplaySettings(base / "setup.ini", c, f, log));
  EXPECT_TRUE(log.lines.empty());

  const DisplaySettings back = LoadDisplaySettings(IniFile::Load(base / "setup.ini").ini);
  EXPECT_EQ(back.controls, c);
  EXPECT_EQ(back.fonts, f);
  // A setup.ini made by a save has no captions: they read as their defaults.
  EXPECT_EQ(back.captions, DefaultDisplaySettings().captions);
}

TEST_F(Folder, SaveKeepsUntouchedSectionsAndTheFreeTextByteForByte) {
  const std::string fresh = G("[清新空气设置]\n大标题 =  自定义 \n; 注释\n站点1=甲\n\n");
  const std::string ambient = G("[环境空气设置]\r\n小标题1=乙  \r\n\r\n");
  const std::string otherHead = G("[其它设置]\r\n字符串 = \\\\192.168.1.5\\file  \r\npagetime=30\r\n");
  const std::string extra = "[Extra]\r\nkeep=this\r\n";
  WriteAll(base / "setup.ini", fresh + ambient + otherHead + extra);

  DisplaySettings s = DefaultDisplaySettings();
  s.controls.pagetime = 40;
  ASSERT_TRUE(SaveDisplaySettings(base / "setup.ini", s.controls, s.fonts, log));
  const std::string saved = ReadAll(base / "setup.ini");
  EXPECT_EQ(saved.rfind(fresh + ambient, 0), 0u) << "the caption sections lead the file unchanged";
  EXPECT_EQ(saved.find(fresh + ambient +
                       G("[其它设置]\r\n字符串 = \\\\192.168.1.5\\file  \r\npagetime=40\r\nzmcheck=1\r\n")),
            0u);
  EXPECT_EQ(saved.find("pagetime=30"), std::string::npos);
  EXPECT_NE(saved.find("hjj=3\r\n[Extra]\r\nkeep=this\r\n\r\n" + G("[字体设置]")), std::string::npos);
}

TEST_F(Folder, AFailedSaveLeavesTheOldFileWholeAndLogsItsNameAndTheReason) {
  const std::string old = G("[清新空气设置]\r\n大标题=旧\r\n");
  WriteAll(base / "setup.ini", old);
  // The process may write no file larger than the old one: the new file cannot be completed,
  // as on a full disk.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const DisplaySettings s = DefaultDisplaySettings();
  const bool ok = SaveDisplaySettings(base / "setup.ini", s.controls, s.fonts, log);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);

  EXPECT_FALSE(ok);
  EXPECT_EQ(ReadAll(base / "setup.ini"), old);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.ini"});
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(log.lines[0].text, G("保存文件失败: ") + (base / "setup.ini").string() + ": File too large");
}

TEST_F(Folder, ASetupIniThatCannotBeReadIsNotOverwritten) {
  std::filesystem::create_directory(base / "setup.ini");
  const DisplaySettings s = DefaultDisplaySettings();
  EXPECT_FALSE(SaveDisplaySettings(base / "setup.ini", s.controls, s.fonts, log));
  EXPECT_TRUE(std::filesystem::is_directory(base / "setup.ini"));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].text, G("保存文件失败: ") + (base / "setup.ini").string());
}

struct MemoCase {
  const char* file;
  const char* memo;
};
class MemoLineBreaks : public ::testing::TestWithParam<MemoCase> {};
TEST_P(MemoLineBreaks, BecomeCrLf) { EXPECT_EQ(MemoTextFromFile(GetParam().file), GetParam().memo); }
INSTANTIATE_TEST_SUITE_P(Files, MemoLineBreaks,
                         ::testing::Values(MemoCase{"", ""}, MemoCase{"a", "a"}, MemoCase{"a\nb", "a\r\nb"},
                                           MemoCase{"a\rb\r\n", "a\r\nb\r\n"},
                                           MemoCase{"a\r\n\r\nb", "a\r\n\r\nb"}, MemoCase{"\n\r", "\r\n\r\n"},
                                           MemoCase{"a\n\n", "a\r\n\r\n"}));

TEST(ListFile, OneItemPerLineAndCrLfAfterEvery) {
  using V = std::vector<std::string>;
  EXPECT_EQ(ListItemsFromFile("a\r\nb\nc\r"), (V{"a", "b", "c"}));
  EXPECT_EQ(ListItemsFromFile("a\r\n"), (V{"a"}));
  EXPECT_EQ(ListItemsFromFile("a\r\n\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(ListItemsFromFile(""), V{});
  EXPECT_EQ(FileFromListItems({"C:\\a\\x.jpg", "/b/y.bmp"}), "C:\\a\\x.jpg\r\n/b/y.bmp\r\n");
  EXPECT_EQ(FileFromListItems({}), "");
}

TEST_F(Folder, TextFilesLoadOnlyWhenTheyExist) {
  DisplayTexts t;
  ASSERT_TRUE(LoadDisplayTexts(base, t).empty());
  EXPECT_EQ(t, DisplayTexts{});
  EXPECT_EQ(t.fly, "fly");
  EXPECT_EQ(t.txt, "Memo2");

  WriteAll(base / "gg.txt", "/p/1.jpg\n/p/2.bmp\r\n");
  WriteAll(base / "txt.txt", G("第一行\n第二行"));
  ASSERT_TRUE(LoadDisplayTexts(base, t).empty());
  EXPECT_EQ(t.fly, "fly");
  EXPECT_EQ(t.gg, (std::vector<std::string>{"/p/1.jpg", "/p/2.bmp"}));
  EXPECT_EQ(t.txt, G("第一行\r\n第二行"));
}

TEST_F(Folder, ATextFileThatCannotBeReadIsListedAndTheOthersStillLoad) {
  WriteAll(base / "fly.txt", "subtitle");
  std::filesystem::create_directory(base / "gg.txt");
  WriteAll(base / "txt.txt", "text");
  DisplayTexts t;
  const std::vector<UnreadFile> unread = LoadDisplayTexts(base, t);
  ASSERT_EQ(unread.size(), 1u);
  EXPECT_EQ(unread[0].file, base / "gg.txt");
  EXPECT_EQ(unread[0].reason, G("是文件夹, 不是文件"));
  EXPECT_EQ(t.fly, "subtitle");
  EXPECT_TRUE(t.gg.empty());
  EXPECT_EQ(t.txt, "text");
}

TEST_F(Folder, ASaveLeavesTheFilesThatWereNotLoaded) {
  WriteAll(base / "fly.txt", "operator's subtitle");
  WriteAll(base / "txt.txt", "operator's text");
  DisplayTexts t;
  t.gg = {"a.jpg"};
  const std::vector<std::filesystem::path> unloaded = {base / "fly.txt", base / "txt.txt",
                                                       base / "setup.ini"};
  ASSERT_TRUE(SaveDisplayTexts(base, t, log, unloaded));
  EXPECT_EQ(ReadAll(base / "gg.txt"), "a.jpg\r\n");
  EXPECT_EQ(ReadAll(base / "fly.txt"), "operator's subtitle");
  EXPECT_EQ(ReadAll(base / "txt.txt"), "operator's text");
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(U(log.lines[0].text),
            "未保存 " + (base / "fly.txt").string() + ": 启动时未能读取此文件, 文件保持原样");
  EXPECT_EQ(U(log.lines[1].text),
            "未保存 " + (base / "txt.txt").string() + ": 启动时未能读取此文件, 文件保持原样");

  // An unloaded file that has gone since is written like any other; setup.ini was not asked for.
  log.lines.clear();
  std::filesystem::remove(base / "txt.txt");
  EXPECT_FALSE(KeepUnloadedFile(base / "setup.ini", {base / "fly.txt"}, log));
  EXPECT_FALSE(KeepUnloadedFile(base / "txt.txt", unloaded, log));
  EXPECT_TRUE(log.lines.empty());
  ASSERT_TRUE(SaveDisplayTexts(base, t, log, unloaded));
  EXPECT_EQ(ReadAll(base / "txt.txt"), "Memo2");
  EXPECT_EQ(log.lines.size(), 1u);
}

struct ProblemCase {
  std::errc error;
  const char* text;  // UTF-8; null: the system's own text of the error
};
class ProblemTexts : public ::testing::TestWithParam<ProblemCase> {};
TEST_P(ProblemTexts, NameTheReason) {
  const std::error_code error = std::make_error_code(GetParam().error);
  EXPECT_EQ(U(FileProblemText(error)), GetParam().text ? GetParam().text : error.message());
}
INSTANTIATE_TEST_SUITE_P(Errors, ProblemTexts,
                         ::testing::Values(ProblemCase{std::errc::permission_denied, "没有权限"},
                                           ProblemCase{std::errc::operation_not_permitted, "没有权限"},
                                           ProblemCase{std::errc::read_only_file_system, "文件系统只读"},
                                           ProblemCase{std::errc::no_space_on_device, "磁盘已满"},
                                           ProblemCase{std::errc::file_exists, nullptr}));

TEST_F(Folder, AFileThatCannotBeOpenedNamesTheReason) {
  WriteAll(base / "fly.txt", "x");
  std::filesystem::permissions(base / "fly.txt", std::filesystem::perms::none);
  const bool root = geteuid() == 0;  // root reads any file
  EXPECT_EQ(U(ReadProblemOf(base / "fly.txt")), root ? "无法读取" : "没有权限");
  EXPECT_EQ(U(ReadProblemOf(base / "missing.txt")),
            std::make_error_code(std::errc::no_such_file_or_directory).message());
}

TEST_F(Folder, TextFilesAreSavedWholeAndAFailureStopsAtTheFailingFile) {
  DisplayTexts t;
  t.gg = {"a.jpg", "b.bmp"};
  t.fly = G("字幕\r\n二");
  t.txt = "x\r\n";
  ASSERT_TRUE(SaveDisplayTexts(base, t, log));
  EXPECT_EQ(ReadAll(base / "gg.txt"), "a.jpg\r\nb.bmp\r\n");
  EXPECT_EQ(ReadAll(base / "fly.txt"), G("字幕\r\n二"));
  EXPECT_EQ(ReadAll(base / "txt.txt"), "x\r\n");

  std::filesystem::remove(base / "fly.txt");
  std::filesystem::create_directory(base / "fly.txt");
  t.gg = {"c.jpg"};
  t.txt = "new";
  EXPECT_FALSE(SaveDisplayTexts(base, t, log));
  EXPECT_EQ(ReadAll(base / "gg.txt"), "c.jpg\r\n");
  EXPECT_EQ(ReadAll(base / "txt.txt"), "x\r\n");
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(log.lines[0].text, G("保存文件失败: ") + (base / "fly.txt").string() + ": Is a directory");

  // A text the next start would refuse to read is not written: the file keeps what it holds.
  std::filesystem::remove(base / "fly.txt");
  t.fly = "short";
  t.txt = std::string(kMaxSettingsFileBytes + 1, 'x');
  EXPECT_FALSE(SaveDisplayTexts(base, t, log));
  EXPECT_EQ(ReadAll(base / "txt.txt"), "x\r\n");
  ASSERT_EQ(log.lines.size(), 2u);
  EXPECT_EQ(U(log.lines[1].text),
            "保存文件失败: " + (base / "txt.txt").string() + ": 文件过大: 1048577 字节, 最多 1048576 字节");
}

struct BoldCase {
  BoldTest test;
  bool bold, italic, underline;
  int stored;
};
class BoldTests : public ::testing::TestWithParam<BoldCase> {};
TEST_P(BoldTests, DecideTheStoredStyle) {
  const BoldCase& c = GetParam();
  FontChoice choice{"n", 12, 5, c.bold, c.italic, c.underline, false};
  EXPECT_EQ(SlotFromChoice(choice, c.test), (FontSlot{"n", 12, 5, c.stored}));
}
INSTANTIATE_TEST_SUITE_P(Choices, BoldTests,
                         ::testing::Values(BoldCase{BoldTest::kBoldOnly, true, false, false, 1},
                                           BoldCase{BoldTest::kBoldOnly, true, true, false, 0},
                                           BoldCase{BoldTest::kBoldOnly, false, true, false, 0},
                                           BoldCase{BoldTest::kBoldOnly, true, false, true, 0},
                                           BoldCase{BoldTest::kBoldOnly, false, false, false, 0},
                                           BoldCase{BoldTest::kAnyStyle, true, false, false, 1},
                                           BoldCase{BoldTest::kAnyStyle, true, true, false, 1},
                                           BoldCase{BoldTest::kAnyStyle, false, true, false, 1},
                                           BoldCase{BoldTest::kAnyStyle, false, false, true, 1},
                                           BoldCase{BoldTest::kAnyStyle, false, false, false, 0}));

TEST(Fonts, ThePreFillMarksBoldByTheTestAndClearsTheRest) {
  const FontSlot two{"n", 10, 3, 2};
  EXPECT_EQ(ChoiceFromSlot(two, BoldTest::kBoldOnly), (FontChoice{"n", 10, 3, false, false, false, false}));
  EXPECT_EQ(ChoiceFromSlot(two, BoldTest::kAnyStyle), (FontChoice{"n", 10, 3, true, false, false, false}));
  EXPECT_TRUE(ChoiceFromSlot({"n", 10, 3, 1}, BoldTest::kBoldOnly).bold);
  EXPECT_FALSE(ChoiceFromSlot({"n", 10, 3, 0}, BoldTest::kAnyStyle).bold);
}

}  // namespace
