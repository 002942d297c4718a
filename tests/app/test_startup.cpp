#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <algorithm>

#include "app_fixture.h"
#include "card.h"
#include "card_messages.h"
#include "link/controller_link.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

using Startup = AppFolderFixture;

const QColor kYellow(255, 255, 0), kGreen(0, 255, 0), kRed(255, 0, 0), kWhite(255, 255, 255);

TEST_F(Startup, OpensOnTheLogPageWithExactlyTheTwoStartLines) {
  WithConfig();
  WithLogFolder();
  auto form = Start();
  ASSERT_FALSE(form->QuitRequested());
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 4);
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->tabText(4), QString::fromUtf8("通讯日志"));

  const QString ok = QString::fromUtf8("启动端口成功: ") + QString::number(port);
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 2);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(0), QString::fromUtf8("08:05:09:042  程序开始运行"));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(0), kYellow);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(1), "08:05:09:042  " + ok);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(1), kGreen);

  EXPECT_EQ(
      ReadAll(folder / "log" / "Log20240305.txt"),
      G("08:05:09:042 程序开始运行\r\n") + G("08:05:09:042 启动端口成功: ") + std::to_string(port) + "\r\n");
  EXPECT_TRUE(std::filesystem::is_directory(folder / "file"));
  EXPECT_TRUE(form->Link().Exchange().pendingDiskQuery);
  EXPECT_TRUE(form->Link().Exchange().pendingStopPlay);
  EXPECT_EQ(form->Link().slotCount(), 0);
  ASSERT_NE((&form->Link().ServerSvr1()), nullptr);
  EXPECT_TRUE((&form->Link().ServerSvr1())->isListening());
  EXPECT_EQ((&form->Link().ServerSvr1())->serverPort(), port);
  EXPECT_EQ(form->Log().LastLogDate(), QDate(2024, 3, 5));
  EXPECT_EQ(Control<QTimer>(*form, "Timer1")->interval(), 60000);
  EXPECT_TRUE(Control<QTimer>(*form, "Timer1")->isActive());
}

TEST_F(Startup, TheServerAcceptsAControllerOnLoopback) {
  WithConfig();
  auto form = Start();
  ASSERT_TRUE((&form->Link().ServerSvr1())->isListening());
  Card card(port);
  ASSERT_TRUE(card.connected);
  EXPECT_TRUE(WaitFor([&] { return (&form->Link().ServerSvr1())->findChildren<QTcpSocket*>().size() == 1; }));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 2);  // a connection alone logs nothing
}

TEST_F(Startup, WithoutConfigIniOnlyTheMessageIsShown) {
  WithLogFolder();
  auto form = Start();
  EXPECT_TRUE(form->QuitRequested());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], G("配置文件config.ini丢失,请联系技术人员."));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 0);
  EXPECT_TRUE(std::filesystem::is_empty(folder / "log"));
  EXPECT_FALSE(std::filesystem::exists(folder / "file"));
  EXPECT_TRUE((&form->Link().ServerSvr1()) == nullptr || !(&form->Link().ServerSvr1())->isListening());
  QTcpServer probe;
  EXPECT_TRUE(probe.listen(QHostAddress::Any, port)) << "the port must stay free";
  EXPECT_FALSE(form->Link().Exchange().pendingDiskQuery);
}

TEST_F(Startup, ATakenPortGivesTheRedLineAndTheWindowStaysUsable) {
  WithConfig();
  WithLogFolder();
  // Take the port first, exactly as another program holding it would.
  QTcpServer other;
  ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
  port = other.serverPort();
  auto form = Start();
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 2);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(0), QString::fromUtf8("08:05:09:042  程序开始运行"));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(0), kYellow);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(1),
            QString::fromUtf8("08:05:09:042  启动端口失败: ") + QString::number(port));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(1), kRed);
  EXPECT_FALSE((&form->Link().ServerSvr1())->isListening());
  EXPECT_TRUE(form->Link().Exchange().pendingDiskQuery && form->Link().Exchange().pendingStopPlay);
  EXPECT_EQ(ReadAll(folder / "log" / "Log20240305.txt"),
            G("08:05:09:042 程序开始运行\r\n08:05:09:042 启动端口失败: ") + std::to_string(port) + "\r\n");

  // Still usable: the settings save works and selects the log page.
  Control<QTabWidget>(*form, "PageControl1")->setCurrentIndex(0);
  Control<QPushButton>(*form, "Button4")->click();
  EXPECT_EQ(Control<QTabWidget>(*form, "PageControl1")->currentIndex(), 4);
  EXPECT_TRUE(std::filesystem::exists(folder / "setup.ini"));
}

TEST_F(Startup, WithoutALogFolderNothingIsWrittenToDisk) {
  WithConfig();
  auto form = Start();
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 2);
  EXPECT_FALSE(std::filesystem::exists(folder / "log"));
}

TEST_F(Startup, AnEmptyOrUnreadableSettingsFileGivesDefaults) {
  std::filesystem::create_directory(folder / "config.ini");  // exists, cannot be read
  WriteAll(folder / "setup.ini", "");
  // The defaults switch the share server on at the default address's port 8116; the test
  // holds that port, so the server's start fails the same way on every machine.
  QTcpServer holder;
  if (!holder.listen(QHostAddress::Any, 8116)) GTEST_SKIP() << "port 8116 is held by another program";
  auto form = Start();
  ASSERT_FALSE(form->QuitRequested());
  // The unreadable config.ini is named in red after the first line; the empty setup.ini is no
  // failure.
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 4);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(1),
            QString::fromUtf8("08:05:09:042  读取文件失败: ") +
                QString::fromStdString((folder / "config.ini").string()) +
                QString::fromUtf8(" (是文件夹, 不是文件), 使用默认值"));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(1), kRed);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(3),
            QString::fromUtf8("08:05:09:042  共享服务启动失败: 8116"));
  EXPECT_EQ(form->Settings().ShareServer, 1);
  EXPECT_EQ(form->Settings().sendkind, 1);
  EXPECT_EQ(form->Settings().stuntSpeed, 16);
  EXPECT_EQ(form->Settings().FileBaseDir, appFolder + "share/");
  EXPECT_EQ(form->Settings().HttpBaseDir.rfind("http://", 0), 0u);
  EXPECT_EQ(form->Settings().HttpBaseDir.substr(form->Settings().HttpBaseDir.size() - 6), ":8116/");
  EXPECT_EQ(Control<SpinEdit>(*form, "pagetime")->Value(), 10);
}

TEST_F(Startup, StationUrlsComeFromTheConfiguredSite) {
  WithConfig("[Path]\r\nStationSite=https://127.0.0.1:9443/\r\n");
  auto form = Start();
  EXPECT_EQ(form->StationUrls()[1], "https://127.0.0.1:9443/zjqxkqfb/site/9efe4be1d20c476e8f1438f06e56d870");
  EXPECT_EQ(form->StationUrls()[4], "https://127.0.0.1:9443/zjqxkqfb/site/c3387c02136b4348812567a547e771c0");
}

TEST_F(Startup, TheCardKeysReachTheSessionTable) {
  WithConfig("[Set]\r\nCards= A , B\r\nMaxCards=40\r\n");
  auto form = Start();
  LogView& log = *Control<LogView>(*form, "log");
  EXPECT_EQ(log.LineText(1),
            QString::fromUtf8("08:05:09:042  config.ini 的 Set/MaxCards=40 不在 1 到 32 之间, 取 32"));
  EXPECT_EQ(log.LineColour(1), kRed);
  EXPECT_EQ(form->Link().Sessions().MaxCards(), 32);
  Card card(port);
  ASSERT_TRUE(card.connected);
  card.Send(aqled::testing::LoginText("F", "c", "1", "1"));
  const QString refused = QString::fromUtf8("[标签:F] [拒绝链接] 不在控制卡名单中, 不回复登录");
  EXPECT_TRUE(WaitFor([&] { return log.LineText(log.LineCount() - 1).endsWith(refused); }));
}

TEST_F(Startup, PreviewsAreBlackAfterStartUp) {
  WithConfig();
  auto form = Start();
  for (int station = 1; station <= 4; ++station) {
    const QImage& picture = form->StationPreview(station)->Picture();
    ASSERT_FALSE(picture.isNull()) << station;
    EXPECT_EQ(picture.size(), form->StationPreview(station)->size());
    EXPECT_EQ(picture.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(picture.pixelColor(picture.width() - 1, picture.height() - 1), QColor(Qt::black));
  }
}

TEST_F(Startup, ATextFileThatCannotBeReadIsNamedAndStartUpGoesOn) {
  WithConfig();
  WithLogFolder();
  WriteAll(folder / "fly.txt", "subtitle");
  std::filesystem::create_directory(folder / "gg.txt");
  WriteAll(folder / "txt.txt", "text");
  auto form = Start();
  EXPECT_FALSE(form->QuitRequested());
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 3);
  const std::string unread = "08:05:09:042  读取文件失败: " + (folder / "gg.txt").string() +
                             " (是文件夹, 不是文件), 保存时保留原文件";
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(1).toStdString(), unread);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(1), kRed);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(2),
            QString::fromUtf8("08:05:09:042  启动端口成功: ") + QString::number(port));
  EXPECT_NE(ReadAll(folder / "log" / "Log20240305.txt").find(G(unread.substr(14).c_str())),
            std::string::npos);
  // The files around it are loaded, and the rest of start-up ran.
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "fly")->toPlainText(), "subtitle");
  EXPECT_EQ(Control<QPlainTextEdit>(*form, "Memo2")->toPlainText(), "text");
  EXPECT_TRUE((&form->Link().ServerSvr1())->isListening());
  EXPECT_TRUE(form->Link().Exchange().pendingDiskQuery);
  EXPECT_TRUE(Control<QTimer>(*form, "Timer1")->isActive());
  EXPECT_EQ(form->UnloadedFiles(), std::vector<std::filesystem::path>{folder / "gg.txt"});
}

TEST_F(Startup, AStationCaFileThatCannotBeUsedIsNamedAndVerificationStaysOn) {
  WithConfig("[Path]\r\nStationCA=missing.pem\r\n");
  auto form = Start();
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 3);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(1).toStdString(),
            "08:05:09:042  证书文件无法使用: " + (folder / "missing.pem").string() +
                " (No such file or directory), 站点证书只按系统证书验证 (Path/StationCA)");
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(1), kRed);
  EXPECT_EQ(form->Settings().TlsVerify, 1);
}

TEST_F(Startup, TheLogControlColoursEveryKindAndEmptiesAfter200Lines) {
  WithConfig();
  auto form = Start();
  Control<LogView>(*form, "log")->Clear();
  for (int kind : {1, 2, 3, 4}) form->AppendLog(kind, "x");
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(0), kRed);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(1), kGreen);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(2), kYellow);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(3), kWhite);

  for (int i = 4; i < 201; ++i) form->AppendLog(4, std::to_string(i));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 201);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(200), "08:05:09:042  200");
  form->AppendLog(3, "fresh");
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 1);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(0), "08:05:09:042  fresh");
}

TEST_F(Startup, OnlyTheLastFiveDaysDailyFilesRemainAfterStartUp) {
  WithConfig();
  WithLogFolder();
  // Daily files of the 40 days up to today, 5 March 2024.
  for (int back = 0; back < 40; ++back) {
    WriteAll(folder / "log" / DailyLogFileName(QDate(2024, 3, 5).addDays(-back)), "old\r\n");
  }
  auto form = Start();
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(folder / "log"))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"Log20240301.txt", "Log20240302.txt", "Log20240303.txt",
                                            "Log20240304.txt", "Log20240305.txt"}));
}

// A free loopback port for the share server.
TEST_F(Startup, TheShareServerAddsItsLineAfterTheTwoStartLinesAndServesShareFolder) {
  const quint16 sharePort = FreePort();
  WithConfig("[Path]\r\nHttpBaseDir=http://127.0.0.1:" + std::to_string(sharePort) +
             "/share/\r\nFileBaseDir=" + (folder / "share").string() + "/\r\n[Set]\r\nShareServer=1\r\n");
  std::filesystem::create_directory(folder / "share");
  WriteAll(folder / "share" / "001.bmp", "picture bytes");
  auto form = Start();
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 4);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(1),
            QString::fromUtf8("08:05:09:042  启动端口成功: ") + QString::number(port));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(2),
            QString::fromUtf8("08:05:09:042  共享服务启动成功: ") + QString::number(sharePort));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(2), kGreen);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(3),
            QString::fromUtf8("08:05:09:042  共享服务地址: 127.0.0.1:") + QString::number(sharePort));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(3), kYellow);
  ASSERT_NE(form->Share(), nullptr);

  QTcpSocket client;
  client.connectToHost(QHostAddress::LocalHost, sharePort);
  ASSERT_TRUE(client.waitForConnected(5000));
  client.write("GET /share/001.bmp HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  QByteArray answer;
  ASSERT_TRUE(WaitFor([&] {
    answer += client.readAll();
    return client.state() != QAbstractSocket::ConnectedState || answer.endsWith("picture bytes");
  }));
  answer += client.readAll();
  EXPECT_TRUE(answer.startsWith("HTTP/1.")) << answer.toStdString();
  EXPECT_TRUE(answer.contains(" 200 ")) << answer.toStdString();
  EXPECT_TRUE(answer.endsWith("\r\n\r\npicture bytes")) << answer.toStdString();
}

TEST_F(Startup, ATakenSharePortGivesARedLineAndTheWindowCarriesOn) {
  QTcpServer other;
  ASSERT_TRUE(other.listen(QHostAddress::Any, 0));
  WithConfig("[Path]\r\nHttpBaseDir=http://127.0.0.1:" + std::to_string(other.serverPort()) +
             "/share/\r\n[Set]\r\nShareServer=1\r\n");
  auto form = Start();
  ASSERT_EQ(Control<LogView>(*form, "log")->LineCount(), 3);
  EXPECT_EQ(Control<LogView>(*form, "log")->LineText(2),
            QString::fromUtf8("08:05:09:042  共享服务启动失败: ") + QString::number(other.serverPort()));
  EXPECT_EQ(Control<LogView>(*form, "log")->LineColour(2), kRed);
  EXPECT_TRUE((&form->Link().ServerSvr1())->isListening());
}

TEST_F(Startup, WithShareServerZeroNoShareServerRuns) {
  const quint16 sharePort = FreePort();
  WithConfig("[Path]\r\nHttpBaseDir=http://127.0.0.1:" + std::to_string(sharePort) +
             "/share/\r\n[Set]\r\nShareServer=0\r\n");
  auto form = Start();
  EXPECT_EQ(Control<LogView>(*form, "log")->LineCount(), 2);
  EXPECT_EQ(form->Share(), nullptr);
  QTcpServer probe;
  EXPECT_TRUE(probe.listen(QHostAddress::Any, sharePort)) << "nobody listens on the share port";
}

}  // namespace
