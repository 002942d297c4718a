// End to end on loopback: aqled-cardsim (a separate process) logs in to the real controller
// server and is driven through a program delivery's chain and a dynamic-area command, with
// the program files served over HTTP by a small responder in this test.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>

#include "link/controller_link.h"
#include "link_harness.h"
#include "programs.h"

namespace aqled {
namespace {

using testing::WaitFor;

// Serves the files of one folder under /share/ with HTTP/1.0 answers; one request per
// connection. `slow` names a file whose answer is held back.
class TinyHttp : public QObject {
 public:
  explicit TinyHttp(QString root) : root_(std::move(root)) {
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        connect(s, &QTcpSocket::readyRead, this, [this, s] { Serve(s); });
        connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  QString Base() const { return QString("http://127.0.0.1:%1/share/").arg(server_.serverPort()); }
  QString slow;
  int slowMs = 0;
  int requests = 0;

 private:
  void Serve(QTcpSocket* s) {
    QByteArray& got = pending_[s];
    got += s->readAll();
    if (!got.contains("\r\n\r\n")) return;
    const QList<QByteArray> line = got.left(got.indexOf("\r\n")).split(' ');
    pending_.remove(s);
    ++requests;
    const QString path = line.size() >= 2 ? QString::fromUtf8(line[1]).section('?', 0, 0) : QString();
    QByteArray answer;
    QFile f(root_ + "/" + path.mid(QString("/share/").size()));
    if (path.startsWith("/share/") && !path.contains("..") && f.open(QIODevice::ReadOnly)) {
      const QByteArray body = f.readAll();
      answer = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    } else {
      answer = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    auto send = [s, answer] {
      s->write(answer);
      s->disconnectFromHost();
    };
    if (!slow.isEmpty() && path.endsWith(slow))
      QTimer::singleShot(slowMs, s, send);
    else
      send();
  }
  QString root_;
  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> pending_;
};

const char* const kId = "20240305080509";

QImage Solid(QColor colour, int w, int h) {
  QImage img(w, h, QImage::Format_RGB32);
  img.fill(colour);
  return img;
}

qint64 SizeOf(const QString& path) { return QFileInfo(path).size(); }

class CardsimIntegration : public testing::LinkTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp.isValid());
    share = tmp.filePath("share");
    QDir().mkpath(share);
    LinkTest::SetUp();
    http = std::make_unique<TinyHttp>(share);
  }
  void TearDown() override {
    if (card.state() != QProcess::NotRunning) {
      card.kill();
      card.waitForFinished(2000);
    }
  }

  // Stages two pictures and the two program files as a program delivery leaves them.
  void StageProgram() {
    ASSERT_TRUE(Solid(Qt::red, 128, 64).save(share + "/001.bmp", "BMP"));
    ASSERT_TRUE(Solid(Qt::blue, 64, 32).save(share + "/002.bmp", "BMP"));
    WriteText(
        share + "/ll.xml",
        std::string(
            R"(<?xml version="1.0" encoding="utf-8"?>  <list deviceType="33030" screenWidth="128" )"
            R"(screenHeight="64">    <program order="0" playMode="1" playTime="1" priority="1" loop="0" )"
            R"(dates="" times="" weekFlg="127" programFile="/share/)") +
            kId + "_pp.xml\" />   </list>\r\n");
    std::string units;
    for (int k = 1; k <= 2; ++k)
      units += std::string("<picUnit file=\"/share/") + kId + "_00" + std::to_string(k) +
               ".bmp\" fileType=\"bmp\" stuntType=\"0\" stuntSpeed=\"16\" stayTime=\"10\"  order=\"" +
               std::to_string(k) + "\"/>";
    WriteText(
        share + "/pp.xml",
        std::string(
            R"(<?xml version="1.0" encoding="utf-8"?>  <program name="program_0" bgColor="0x00000000">)"
            R"(    <picturepanel x="0" y="0" w="128" h="64" zOrder="0"  transparency="100" pictureType="0">)") +
            units + "    </picturepanel>  </program>\r\n");
  }
  static void WriteText(const QString& path, const std::string& text) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  std::string DownloadCommand(qint64 overrideSize2 = -2) const {
    const std::string base = http->Base().toStdString();
    auto item = [&](const std::string& file, const std::string& dst, qint64 size) {
      return R"({"srcurl":")" + base + file + R"(","dstpath": "share","dstfilename":")" + dst +
             R"(","size": ")" + std::to_string(size) + "\"}";
    };
    const std::string id = kId;
    return R"({"name":"downloadfilefromurl","input":{"failonwaitingtimeout":"10","downloadmode":"queue",)"
           R"("downloadtimes":"1","updatetime":"0","items":[)" +
           item("ll.xml", id + "_ll.xml", SizeOf(share + "/ll.xml")) + "," +
           item("pp.xml", id + "_pp.xml", SizeOf(share + "/pp.xml")) + "," +
           item("001.bmp", id + "_001.bmp", SizeOf(share + "/001.bmp")) + "," +
           item("002.bmp", id + "_002.bmp",
                overrideSize2 != -2 ? overrideSize2 : SizeOf(share + "/002.bmp")) +
           "]}}";
  }
  std::string PlayCommand() const {
    return std::string(R"({"name":"play","input":{"type":"program","playlist":"share/)") + kId +
           R"(_ll.xml"}})";
  }

  void StartCard(QStringList extra) {
    QStringList args = {"--port",
                        QString::number(link.ServerPort()),
                        "--barcode",
                        "SIM1",
                        "--name",
                        "north",
                        "--width",
                        "128",
                        "--height",
                        "64",
                        "--heartbeat-ms",
                        "300",
                        "--storage",
                        tmp.filePath("storage"),
                        "--output",
                        tmp.filePath("screen"),
                        "--log",
                        tmp.filePath("card.log"),
                        "--exit-after-seconds",
                        "20",
                        "--split-pause-ms",
                        "1"};
    args += extra;
    card.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    card.start(testing::BuiltProgram("aqled-cardsim"), args);
    ASSERT_TRUE(card.waitForStarted(5000)) << testing::BuiltProgram("aqled-cardsim").toStdString();
    ASSERT_TRUE(WaitFor([&] { return link.SlotConnected(1); }, 5000)) << CardLog();
  }
  std::string CardLog() const {
    QFile f(tmp.filePath("card.log"));
    return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string("<no card log>");
  }
  bool Logged(const std::string& utf8) const {
    const auto t = log.Texts();
    return std::find(t.begin(), t.end(), utf8) != t.end();
  }
  size_t IndexOf(const std::string& utf8) const {
    const auto t = log.Texts();
    return static_cast<size_t>(std::find(t.begin(), t.end(), utf8) - t.begin());
  }
  // A program delivery as it reaches the exchange: commands stored, clean-up sent.
  void Deliver() {
    link.BeginDelivery();
    link.StoreProgramCommands(DownloadCommand(), PlayCommand());
    link.SendToSlot(1, R"({"name":"clearuselessmaterial"})", 2);
  }
  void ExpectScreen(const QString& file, QColor at00, QColor at100_50) {
    QImage shown(tmp.filePath("screen/" + file));
    ASSERT_FALSE(shown.isNull()) << file.toStdString();
    EXPECT_EQ(shown.size(), QSize(128, 64));
    EXPECT_EQ(shown.pixelColor(0, 0), at00) << file.toStdString();
    EXPECT_EQ(shown.pixelColor(100, 50), at100_50) << file.toStdString();
  }

  QTemporaryDir tmp;
  QString share;
  std::unique_ptr<TinyHttp> http;
  QProcess card;
};

const char* const kSuccess = "标签: SIM1, 名称: north, 发送成功.";

struct Mode {
  const char* name;
  QStringList args;
};

class ProgramDelivery : public CardsimIntegration, public ::testing::WithParamInterface<Mode> {};

TEST_P(ProgramDelivery, RunsFromCleanUpToPlayAndShowsThePictures) {
  StageProgram();
  http->slow = "002.bmp";
  http->slowMs = 300;
  StartCard(QStringList{"--progress-wait-ms", "50"} + GetParam().args);
  EXPECT_TRUE(Logged("[标签:SIM1] [新建链接] [序列:1]"));
  Deliver();
  ASSERT_TRUE(WaitFor([&] { return Logged(kSuccess); }, 15000)) << CardLog();
  // The chain in its order.
  const size_t disk = IndexOf(R"(发送:{"name":"queryDisk","input":{"storagemedia":"emmc"}})");
  const size_t download = IndexOf("标签: SIM1, 名称: north, 正在发送下载指令...");
  const size_t id = IndexOf("标签: SIM1, 名称: north, 下载ID: 1, 正在发送...");
  const size_t done = IndexOf("标签: SIM1, 名称: north, 下载完毕, 正在发送播放指令...");
  const size_t play = IndexOf("发送:" + PlayCommand());
  const size_t success = IndexOf(kSuccess);
  EXPECT_LT(disk, download);
  EXPECT_LT(download, id);
  EXPECT_LT(id, done);
  EXPECT_LT(done, play);
  EXPECT_LT(play, success);
  EXPECT_TRUE(Logged("标签: SIM1, 名称: north, 下载状态: DOWNLOADING, 正在发送..."))
      << "the slow file is polled";
  for (const auto& line : log.lines) EXPECT_EQ(line.kind == 1, false) << testing::U(line.text);
  // What the card stored and what its screen shows.
  QFile stored(tmp.filePath(QString("storage/share/") + kId + "_001.bmp"));
  QFile original(share + "/001.bmp");
  ASSERT_TRUE(stored.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
  EXPECT_EQ(stored.readAll(), original.readAll());
  ExpectScreen("program_001.png", Qt::red, Qt::red);
  ExpectScreen("program_002.png", Qt::blue, Qt::black);
  // A dynamic area next: its answer is only logged.
  const std::string content1 = QByteArray((http->Base() + "001.bmp").toUtf8()).toBase64().toStdString();
  // A long address: its Base64 is split into MIME lines, escaped inside the JSON string.
  const QByteArray longAddress = (http->Base() + "002.bmp?padding=" + QString(40, 'p')).toUtf8();
  const QByteArray b64 = longAddress.toBase64();
  const std::string content2 = (b64.left(76) + "\\r\\n" + b64.mid(76)).toStdString();
  const std::string dynamic =
      R"({"name":"UpdateDynamic","input":{"immediatelyPlay":"0","cover":"1","dynamics":[{"id":"0","xCoord":"0",)"
      R"("yCoord":"0","width":"128","height":"64","transparency":"100","relativeProgram":"","runMode":"0",)"
      R"("updateFrequency":"","unit":[{"order":"0","gifFlag":"0","stuntType":"0","stayTime":"10","content":")" +
      content2 +
      R"(","stuntSpeed":"16","type":"URLPicture"},{"order":"1","gifFlag":"0","stuntType":"0","stayTime":"10",)"
      R"("content":")" +
      content1 + R"(","stuntSpeed":"16","type":"URLPicture"}]}]}})";
  ASSERT_GT(b64.size(), 76);
  link.BeginDelivery();
  link.StoreDynamicCommand(dynamic);
  link.SendToSlot(1, dynamic, 2);
  ASSERT_TRUE(WaitFor([&] { return card.state() == QProcess::NotRunning; }, 15000)) << CardLog();
  EXPECT_EQ(card.exitCode(), 0) << CardLog();
  EXPECT_TRUE(Logged(R"(收到:{"name":"UpdateDynamic","output":{"pictures":"2","result":"ok"}})"))
      << CardLog();
  ExpectScreen("dynamic_001.png", Qt::blue, Qt::black);
  ExpectScreen("dynamic_002.png", Qt::red, Qt::red);
  EXPECT_TRUE(WaitFor([&] { return !link.SlotConnected(1); }, 3000));
}

INSTANTIATE_TEST_SUITE_P(
    CardsimIntegration, ProgramDelivery,
    ::testing::Values(Mode{"plain", {"--exit-after-dynamic"}},
                      Mode{"splitFrames", {"--exit-after-dynamic", "--split-bytes", "7"}},
                      Mode{"twoFramesPerWrite", {"--exit-after-dynamic", "--coalesce"}},
                      Mode{"slowAnswers", {"--exit-after-dynamic", "--answer-delay-ms", "30"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CardsimIntegration, SizeMismatchEndsTheChainWithoutPlay) {
  StageProgram();
  StartCard({"--progress-wait-ms", "50"});
  link.BeginDelivery();
  link.StoreProgramCommands(DownloadCommand(/*overrideSize2=*/5), PlayCommand());
  link.SendToSlot(1, R"({"name":"clearuselessmaterial"})", 2);
  ASSERT_TRUE(WaitFor([&] { return link.Exchange().downloadStatus == "FAILED"; }, 10000)) << CardLog();
  // A play would go out before this query, and its answer would come before the query's.
  link.SendToSlot(1, kDiskQueryCommand, 2);
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto t = log.Texts();
        return !t.empty() && t.back().rfind(R"(收到:{"name":"queryDisk")", 0) == 0;
      },
      10000))
      << CardLog();
  EXPECT_FALSE(Logged("发送:" + PlayCommand()));
  EXPECT_FALSE(Logged(kSuccess));
}

TEST_F(CardsimIntegration, ResetConnectionMarksTheCardDisconnectedAndItComesBack) {
  StartCard({"--reset-after", "2", "--reconnect-ms", "200"});
  ASSERT_TRUE(WaitFor([&] { return Logged("客户端:SIM1 断开连接"); }, 5000)) << CardLog();
  ASSERT_TRUE(WaitFor([&] { return Logged("[标签:SIM1] [匹配链接] [序列:1]"); }, 5000)) << CardLog();
  EXPECT_TRUE(link.SlotConnected(1));
}

}  // namespace
}  // namespace aqled
