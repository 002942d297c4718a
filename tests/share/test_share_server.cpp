#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "flood.h"
#include "link/controller_link.h"
#include "link/limits.h"
#include "link_harness.h"
#include "share/share_server.h"
#include "test_support.h"
#include "text/gbk.h"

namespace aqled {
namespace {

using testing::G;
using testing::RecordingLog;
namespace fs = std::filesystem;

struct Response {
  std::string statusLine;
  long long contentLength = -1;
  std::string contentType;
  std::string body;
  std::string rest;  // bytes after this response (a following response on the same connection)
};

// Reads one response from `raw` (header, then Content-Length bytes of body unless `head`).
bool TakeResponse(std::string& raw, bool head, Response& r) {
  const size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  const std::string header = raw.substr(0, end);
  r.statusLine = header.substr(0, header.find("\r\n"));
  r.contentLength = -1;
  size_t pos = 0;
  while ((pos = header.find("\r\n", pos)) != std::string::npos) {
    pos += 2;
    const std::string line = header.substr(pos, header.find("\r\n", pos) - pos);
    const std::string lower = QByteArray::fromStdString(line).toLower().toStdString();
    if (lower.rfind("content-length:", 0) == 0) r.contentLength = std::stoll(line.substr(15));
    if (lower.rfind("content-type:", 0) == 0)
      r.contentType = QByteArray::fromStdString(line.substr(13)).trimmed().toStdString();
  }
  const size_t bodyLength = head ? 0 : static_cast<size_t>(std::max(0LL, r.contentLength));
  if (raw.size() < end + 4 + bodyLength) return false;
  r.body = raw.substr(end + 4, bodyLength);
  raw.erase(0, end + 4 + bodyLength);
  return true;
}

// Sends raw request bytes to 127.0.0.1:port and reads `count` responses on the event loop.
std::vector<Response> Exchange(quint16 port, const std::string& requests, std::vector<bool> heads) {
  QTcpSocket socket;
  socket.connectToHost(QHostAddress::LocalHost, port);
  EXPECT_TRUE(socket.waitForConnected(5000));
  socket.write(requests.data(), static_cast<qint64>(requests.size()));
  std::string raw;
  std::vector<Response> out;
  EXPECT_TRUE(aqled::testing::WaitFor(
      [&] {
        raw += socket.readAll().toStdString();
        Response r;
        while (out.size() < heads.size() && TakeResponse(raw, heads[out.size()], r)) out.push_back(r);
        return out.size() == heads.size() || socket.state() == QAbstractSocket::UnconnectedState;
      },
      10000));
  if (!out.empty()) out.back().rest = raw + socket.readAll().toStdString();
  return out;
}

Response Get(quint16 port, const std::string& target) {
  const auto r = Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", {false});
  return r.empty() ? Response{} : r.front();
}

class ShareServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    root_ = fs::path(dir_.path().toStdString());
    share_ = root_ / "share";
    fs::create_directories(share_ / "sub");
    fs::create_directories(root_ / "share-old");
    for (int i = 0; i < 70000; ++i) picture_ += static_cast<char>((i * 7) % 256);  // NUL and high bytes
    testing::WriteBytes(share_ / "001.bmp", picture_);
    testing::WriteBytes(share_ / "ll.xml", "<list/>\r\n");
    testing::WriteBytes(share_ / "sub" / "x.bmp", "inside a subfolder");
    testing::WriteBytes(root_ / "config.ini", "[Path]\r\nsecret=1\r\n");
    testing::WriteBytes(root_ / "share-old" / "x.bmp", "sibling");
    fs::create_symlink(root_ / "share-old" / "x.bmp", share_ / "sibling.bmp");
    fs::create_symlink(root_ / "config.ini", share_ / "config.ini");
    server_ = std::make_unique<ShareServer>(GbkFromPath(share_) + "/", "http://127.0.0.1/share/");
    ASSERT_TRUE(server_->Listen(0, QHostAddress::LocalHost));
    port_ = server_->Port();
  }
  QTemporaryDir dir_;
  fs::path root_, share_;
  std::string picture_;
  std::unique_ptr<ShareServer> server_;
  quint16 port_ = 0;
};

TEST_F(ShareServerTest, GetServesExactBytesWithContentLength) {
  const Response r = Get(port_, "/share/001.bmp");
  EXPECT_EQ(r.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r.contentLength, 70000);
  EXPECT_EQ(r.contentType, "image/bmp");
  EXPECT_TRUE(r.body == picture_);
  const Response x = Get(port_, "/share/ll.xml");
  EXPECT_EQ(x.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(x.body, "<list/>\r\n");
  EXPECT_EQ(x.contentLength, 9);
}

TEST_F(ShareServerTest, Http10RequestWithoutHostIsServed) {
  const auto r = Exchange(port_, "GET /share/ll.xml HTTP/1.0\r\n\r\n", {false});
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].contentLength, 9);
  EXPECT_EQ(r[0].body, "<list/>\r\n");
}

TEST_F(ShareServerTest, HeadHasContentLengthAndNoBody) {
  // The GET behind the HEAD shows where the HEAD answer ends: no body bytes stand between them.
  const auto r = Exchange(port_,
                          "HEAD /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                          "GET /share/ll.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                          {true, false});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r[0].contentLength, 70000);
  EXPECT_EQ(r[1].statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r[1].body, "<list/>\r\n");
  EXPECT_EQ(r[1].rest, "");
}

TEST_F(ShareServerTest, EncodedNamesAreDecodedOnce) {
  testing::WriteBytes(share_ / "a b.bmp", "blank");
  testing::WriteBytes(share_ / "%2e.bmp", "percent");
  EXPECT_EQ(Get(port_, "/share/%30%30%31.bmp").contentLength, 70000);
  EXPECT_EQ(Get(port_, "/share/a%20b.bmp").body, "blank");
  EXPECT_EQ(Get(port_, "/share/%252e.bmp").body, "percent");
}

TEST_F(ShareServerTest, HeadOfAMissingFileHasNoBody) {
  const auto r = Exchange(port_,
                          "HEAD /share/missing.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                          "GET /share/ll.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                          {true, false});
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(r[1].statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(r[1].body, "<list/>\r\n");
}

class ShareServerRefusalTest : public ShareServerTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ShareServerRefusalTest, AnswersNotFound) {
  const Response r = Get(port_, GetParam());
  EXPECT_EQ(r.statusLine, "HTTP/1.1 404 Not Found") << GetParam();
  EXPECT_EQ(r.body.find("secret"), std::string::npos);
  EXPECT_EQ(r.body.find("sibling"), std::string::npos);
  EXPECT_EQ(r.body.find("subfolder"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Targets, ShareServerRefusalTest,
    ::testing::Values("/share/../config.ini", "/share/%2e%2e/config.ini", "/share/%2e%2e%2fconfig.ini",
                      "/share/..%2fconfig.ini", "/share/%2E%2E%2Fconfig.ini", "/share/..%5cconfig.ini",
                      "/share/%2fetc%2fpasswd", "/share//etc/passwd", "/../../../etc/passwd", "/etc/passwd",
                      "/config.ini", "/share/config.ini", "/share/sub/x.bmp", "/share/sub%2fx.bmp",
                      "/share/sub", "/share/", "/share", "/", "/share/.", "/share/missing.bmp", "/001.bmp",
                      "/share/001.bmp%00", "/share/%00", "/share/sibling.bmp", "/share-old/x.bmp",
                      "/share/%252e%252e%252fconfig.ini"));

TEST_F(ShareServerTest, OtherMethodsAndBackslashesAreNotFound) {
  const auto post =
      Exchange(port_, "POST /share/001.bmp HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", {false});
  ASSERT_EQ(post.size(), 1u);
  EXPECT_EQ(post[0].statusLine, "HTTP/1.1 404 Not Found");
  const Response back = Get(port_, "/share/..\\config.ini");
  EXPECT_NE(back.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(back.body.find("secret"), std::string::npos);
}

TEST_F(ShareServerTest, PagesOfTheOwnerAnswerGetAndHeadOnlyBesideTheFiles) {
  server_->SetPages([](const QString& path) -> std::optional<ShareAnswer> {
    if (path != "/page") return std::nullopt;
    return ShareAnswer{"made", "text/plain; charset=utf-8"};
  });
  const auto r = Exchange(port_,
                          "HEAD /page HTTP/1.1\r\nHost: x\r\n\r\nGET /page?x=1 HTTP/1.1\r\nHost: x\r\n\r\n"
                          "GET /share/ll.xml HTTP/1.1\r\nHost: x\r\n\r\n"
                          "POST /page HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n",
                          {true, false, false, false});
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].contentLength, 4);
  EXPECT_EQ(r[1].body, "made");
  EXPECT_EQ(r[1].contentType, "text/plain; charset=utf-8");
  EXPECT_EQ(r[2].body, "<list/>\r\n");
  EXPECT_EQ(r[3].statusLine, "HTTP/1.1 404 Not Found");
}

TEST_F(ShareServerTest, APageThatThrowsIsAnswered500AndTheServerGoesOn) {
  server_->SetPages([](const QString& path) -> std::optional<ShareAnswer> {
    if (path == "/page") throw std::runtime_error("the page failed");
    return std::nullopt;
  });
  EXPECT_EQ(Get(port_, "/page").statusLine, "HTTP/1.1 500 Internal Server Error");
  EXPECT_EQ(Get(port_, "/share/ll.xml").body, "<list/>\r\n");
}

TEST_F(ShareServerTest, FolderCreatedLaterIsServed) {
  ShareServer later(GbkFromPath(root_ / "later") + "/", "http://127.0.0.1/");
  EXPECT_FALSE(later.Resolve("/a.bmp"));
  fs::create_directory(root_ / "later");
  testing::WriteBytes(root_ / "later" / "a.bmp", "a");
  EXPECT_TRUE(later.Resolve("/a.bmp"));
}

TEST_F(ShareServerTest, TheWritersTemporaryFilesAreNeverServed) {
  testing::WriteBytes(share_ / ".001.bmp.Ab3dE9.tmp", "half a picture");
  EXPECT_EQ(Get(port_, "/share/.001.bmp.Ab3dE9.tmp").statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_FALSE(server_->Resolve("/share/.001.bmp.Ab3dE9.tmp"));
  EXPECT_TRUE(server_->Resolve("/share/001.bmp"));
}

TEST_F(ShareServerTest, AFifoIsRefusedWithoutWaitingForAWriter) {
  ASSERT_EQ(::mkfifo((share_ / "002.bmp").c_str(), 0600), 0);
  EXPECT_EQ(Get(port_, "/share/002.bmp").statusLine, "HTTP/1.1 404 Not Found");
}

struct RangeCase {
  const char* name;
  const char* headers;  // extra request header lines
  const char* statusLine;
  const char* contentRange;  // "" when the answer has none
  size_t first, length;      // the bytes of the 70000-byte picture in the body
};

class ShareServerRange : public ShareServerTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(ShareServerRange, AnswersTheBytesAsked) {
  const RangeCase& c = GetParam();
  const shareflood::Answer a = shareflood::Exchange(
      port_, QByteArray("GET /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n") + c.headers + "\r\n", false,
      false, 10000);
  EXPECT_EQ(a.statusLine, c.statusLine);
  const auto range = a.headers.find("content-range");
  EXPECT_EQ(range == a.headers.end() ? "" : range->second, c.contentRange);
  EXPECT_TRUE(a.body == picture_.substr(c.first, c.length)) << a.body.size() << " bytes";
  EXPECT_EQ(a.headers.at("content-length"), std::to_string(c.length));
}

const char* const kOk = "HTTP/1.1 200 OK";
const char* const kPartial = "HTTP/1.1 206 Partial Content";
const char* const kUnsatisfiable = "HTTP/1.1 416 Range Not Satisfiable";

INSTANTIATE_TEST_SUITE_P(
    Ranges, ShareServerRange,
    ::testing::Values(
        RangeCase{"first100", "Range: bytes=0-99\r\n", kPartial, "bytes 0-99/70000", 0, 100},
        RangeCase{"from100", "Range: bytes=100-\r\n", kPartial, "bytes 100-69999/70000", 100, 69900},
        RangeCase{"last100", "Range: bytes=-100\r\n", kPartial, "bytes 69900-69999/70000", 69900, 100},
        RangeCase{"pastTheEnd", "Range: bytes=69990-80000\r\n", kPartial, "bytes 69990-69999/70000", 69990,
                  10},
        RangeCase{"lastMoreThanAll", "Range: bytes=-90000\r\n", kPartial, "bytes 0-69999/70000", 0, 70000},
        RangeCase{"startAtTheEnd", "Range: bytes=70000-\r\n", kUnsatisfiable, "bytes */70000", 0, 0},
        RangeCase{"lastNone", "Range: bytes=-0\r\n", kUnsatisfiable, "bytes */70000", 0, 0},
        RangeCase{"backwards", "Range: bytes=5-2\r\n", kOk, "", 0, 70000},
        RangeCase{"several", "Range: bytes=0-1,5-6\r\n", kOk, "", 0, 70000},
        RangeCase{"otherUnit", "Range: items=0-9\r\n", kOk, "", 0, 70000},
        RangeCase{"noNumber", "Range: bytes=a-9\r\n", kOk, "", 0, 70000},
        RangeCase{"ifRange", "Range: bytes=0-99\r\nIf-Range: \"x\"\r\n", kOk, "", 0, 70000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShareRange, ParsesOneRangeOfTheValue) {
  struct Case {
    const char* value;
    uint64_t size;
    ByteRange::Kind kind;
    uint64_t first, length;
  };
  const Case cases[] = {{"bytes=0-0", 10, ByteRange::kPart, 0, 1},
                        {"Bytes= 2-4 ", 10, ByteRange::kPart, 2, 3},
                        {"bytes=0-99999999999999999999999", 10, ByteRange::kPart, 0, 10},
                        {"bytes=99999999999999999999999-", 10, ByteRange::kUnsatisfiable, 0, 0},
                        {"bytes=-99999999999999999999999", 10, ByteRange::kPart, 0, 10},
                        {"bytes=0-", 0, ByteRange::kUnsatisfiable, 0, 0},
                        {"bytes=-5", 0, ByteRange::kUnsatisfiable, 0, 0},
                        {"bytes=", 10, ByteRange::kWhole, 0, 0},
                        {"bytes=-", 10, ByteRange::kWhole, 0, 0},
                        {"bytes=3", 10, ByteRange::kWhole, 0, 0},
                        {"bytes=1-2x", 10, ByteRange::kWhole, 0, 0},
                        {"bytes=x-2", 10, ByteRange::kWhole, 0, 0},
                        {"", 10, ByteRange::kWhole, 0, 0}};
  for (const Case& c : cases) {
    const ByteRange r = ParseByteRange(c.value, c.size);
    EXPECT_EQ(r.kind, c.kind) << c.value;
    if (c.kind == ByteRange::kPart) {
      EXPECT_EQ(r.first, c.first) << c.value;
      EXPECT_EQ(r.length, c.length) << c.value;
    }
  }
}

struct CloseCase {
  const char* name;
  const char* request;
};

class ShareServerClose : public ShareServerTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ShareServerClose, ClosesTheConnectionAfterTheAnswer) {
  const shareflood::Answer a = shareflood::Exchange(port_, GetParam().request, false, true, 10000);
  EXPECT_EQ(a.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(a.body, "<list/>\r\n");
  EXPECT_TRUE(a.closedByServer);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ShareServerClose,
    ::testing::Values(CloseCase{"connectionClose",
                                "GET /share/ll.xml HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"},
                      CloseCase{"http10", "GET /share/ll.xml HTTP/1.0\r\n\r\n"},
                      CloseCase{"http10CloseToo", "GET /share/ll.xml HTTP/1.0\r\nConnection: close\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ShareServerTest, ABodyIsRefusedUnreadAndTheConnectionClosed) {
  // A GET announcing a body is answered at once, and the body is never read.
  const shareflood::Answer a = shareflood::Exchange(
      port_, "GET /share/ll.xml HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\nabc", false,
      true, 10000);
  EXPECT_EQ(a.statusLine, "HTTP/1.1 200 OK");
  EXPECT_EQ(a.body, "<list/>\r\n");
  EXPECT_TRUE(a.closedByServer);
  const shareflood::Answer put = shareflood::Exchange(
      port_, "PUT /share/x.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 5\r\n\r\n", false, true, 10000);
  EXPECT_EQ(put.statusLine, "HTTP/1.1 404 Not Found");
  EXPECT_TRUE(put.closedByServer);
  EXPECT_FALSE(fs::exists(share_ / "x.bmp"));
}

// A server of this test with its own limits.
struct LimitedServer {
  LimitedServer(const fs::path& folder, ShareServerOptions options)
      : server(GbkFromPath(folder) + "/", "http://127.0.0.1/share/", options) {
    server.SetLog(&log);
    listening = server.Listen(0, QHostAddress::LocalHost);
  }
  RecordingLog log;
  ShareServer server;
  bool listening = false;
};

TEST_F(ShareServerTest, ConnectionsBeyondTheLimitWaitUntilASlotIsFree) {
  ShareServerOptions options;
  options.maxConnections = 3;
  LimitedServer limited(share_, options);
  ASSERT_TRUE(limited.listening);
  // Six peers each ask for ll.xml and keep their connection open.
  std::vector<std::unique_ptr<QTcpSocket>> peers;
  std::vector<int> answered;
  for (int i = 0; i < 6; ++i) {
    peers.push_back(std::make_unique<QTcpSocket>());
    QTcpSocket* peer = peers.back().get();
    QObject::connect(peer, &QTcpSocket::connected,
                     [peer] { peer->write("GET /share/ll.xml HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"); });
    QObject::connect(peer, &QTcpSocket::readyRead, [peer, i, &answered] {
      if (peer->readAll().contains("<list/>")) answered.push_back(i);
    });
    peer->connectToHost(QHostAddress::LocalHost, limited.server.Port());
  }
  ASSERT_TRUE(aqled::testing::WaitFor([&] { return answered.size() >= 3; }, 10000));
  EXPECT_EQ(answered.size(), 3u);
  EXPECT_EQ(limited.server.ConnectionCount(), 3u) << "the others wait to be accepted";
  // The three served peers leave; the three waiting ones are served in their place.
  for (int i : std::vector<int>(answered)) peers[static_cast<size_t>(i)]->abort();
  ASSERT_TRUE(aqled::testing::WaitFor([&] { return answered.size() == 6; }, 10000))
      << answered.size() << " answered";
  EXPECT_LE(limited.server.ConnectionCount(), 3u);
}

TEST_F(ShareServerTest, ConnectionsFromOneAddressBeyondItsLimitAreClosedAndSummedUpInOneLine) {
  ShareServerOptions options;
  options.maxConnectionsPerAddress = 2;
  LimitedServer limited(share_, options);
  ASSERT_TRUE(limited.listening);
  shareflood::IdleConnections idle;
  idle.Open(limited.server.Port(), 5);
  ASSERT_TRUE(aqled::testing::WaitFor(
      [&] { return idle.Closed() == 3 && limited.server.ConnectionCount() == 2; }, 10000))
      << idle.Closed() << " closed, " << limited.server.ConnectionCount() << " held";
  EXPECT_EQ(idle.Connected(), 2);
  // The first refusal is reported at once; the next ones wait for the summary of the minute.
  ASSERT_EQ(limited.log.lines.size(), 1u) << ::testing::PrintToString(limited.log.Texts());
  EXPECT_EQ(limited.log.lines[0].kind, 1);
  EXPECT_EQ(limited.log.lines[0].text.rfind(G("共享服务拒绝或断开连接: 1 (")), 0u)
      << testing::U(limited.log.lines[0].text);
  // Before the server goes, the waiting count is written at once, and only once.
  limited.server.WritePendingSummary();
  ASSERT_EQ(limited.log.lines.size(), 2u) << ::testing::PrintToString(limited.log.Texts());
  EXPECT_EQ(limited.log.lines[1].text.rfind(G("共享服务拒绝或断开连接: 2 (")), 0u)
      << testing::U(limited.log.lines[1].text);
  limited.server.WritePendingSummary();
  EXPECT_EQ(limited.log.lines.size(), 2u);
}

TEST_F(ShareServerTest, ARequestTrickledByteByByteIsCutAtTheWholeRequestTimeOut) {
  ShareServerOptions options;
  options.requestTimeoutSeconds = 1;
  LimitedServer limited(share_, options);
  ASSERT_TRUE(limited.listening);
  QTcpSocket peer;
  QElapsedTimer clock;
  int sent = 0;
  QTimer trickle;  // one byte of a never-ending head every 50 ms: never idle
  QObject::connect(&trickle, &QTimer::timeout, [&] {
    if (peer.state() != QAbstractSocket::ConnectedState) return;
    peer.write(sent == 0 ? "GET /share/001.bmp HTTP/1.1\r\nX: " : "x");
    ++sent;
  });
  peer.connectToHost(QHostAddress::LocalHost, limited.server.Port());
  clock.start();
  trickle.start(50);
  ASSERT_TRUE(
      aqled::testing::WaitFor([&] { return peer.state() == QAbstractSocket::UnconnectedState; }, 10000));
  trickle.stop();
  EXPECT_GE(clock.elapsed(), 900) << "cut before the time-out";
  EXPECT_GT(sent, 10) << "the peer kept sending";
  ASSERT_EQ(limited.log.lines.size(), 1u) << ::testing::PrintToString(limited.log.Texts());
  EXPECT_EQ(limited.log.lines[0].text, G("共享服务拒绝或断开连接: 1 (request time-out)"));
}

TEST(SharePort, FromTheAddress) {
  const std::pair<const char*, int> cases[] = {{"http://192.168.1.5:8080/share/", 8080},
                                               {"http://host/share/", 80},
                                               {"http://host:/share/", 80},
                                               {"http://host", 80},
                                               {"", 80},
                                               {"host:81/share/", 81},
                                               {"http://[::1]:82/", 82},
                                               {"http://[::1]/", 80},
                                               {"http://user:pw@host/", 80},
                                               {"http://user:pw@host:83/", 83},
                                               {"http://host:0/", -1},
                                               {"http://host:65536/", -1},
                                               {"http://host:80a/", -1},
                                               {"http://host:99999999999999/", -1},
                                               {"http://host:65535/a:1/", 65535}};
  for (const auto& [address, port] : cases) EXPECT_EQ(SharePortOf(address), port) << address;
}

TEST(SharePath, FromTheAddress) {
  const std::pair<const char*, const char*> cases[] = {{"http://h:81/led/share/", "/led/share/"},
                                                       {"http://h/", "/"},
                                                       {"http://h", "/"},
                                                       {"http://h/share", "/share/"},
                                                       {"http://h/s/?x=1", "/s/"}};
  for (const auto& [address, path] : cases) EXPECT_EQ(SharePathOf(address), path) << address;
}

TEST(ShareHost, FromTheAddress) {
  const std::pair<const char*, const char*> cases[] = {{"http://192.168.1.5:8080/share/", "192.168.1.5"},
                                                       {"http://[::1]:82/", "::1"},
                                                       {"http://user:pw@host:83/", "host"},
                                                       {"host/share/", "host"},
                                                       {"http:///share/", ""}};
  for (const auto& [address, host] : cases) EXPECT_EQ(ShareHostOf(address), host) << address;
}

TEST(ShareServerStart, ListensOnAllAddressesWhenHttpBaseDirNamesNoneOfThisMachine) {
  // 192.0.2.1 is kept for documentation and never one of this machine's addresses.
  for (const std::string host : {"192.0.2.1", "led-pc"}) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::Any, 0));
    const std::string port = std::to_string(probe.serverPort());
    probe.close();
    const std::string base = "http://" + host + ":" + port + "/share/";
    QTemporaryDir dir;
    RecordingLog log;
    ShareServer server(GbkFromPath(fs::path(dir.path().toStdString())) + "/", base);
    ASSERT_TRUE(StartShareServer(server, base, log)) << base;
    ASSERT_EQ(log.lines.size(), 2u) << base;
    EXPECT_EQ(log.lines[0].text, G("共享服务启动成功: ") + port);
    EXPECT_EQ(log.lines[1].kind, 3);
    EXPECT_EQ(log.lines[1].text, G("共享服务地址: 全部地址:") + port);
    EXPECT_EQ(Get(server.Port(), "/share/missing.bmp").statusLine, "HTTP/1.1 404 Not Found")
        << "reached on 127.0.0.1";
  }
}

TEST(ShareServerStart, LogsPortOnSuccessAndFailure) {
  QTcpServer probe;
  ASSERT_TRUE(probe.listen(QHostAddress::Any, 0));
  const quint16 busy = probe.serverPort();
  const std::string port = std::to_string(busy);
  QTemporaryDir dir;
  RecordingLog log;
  ShareServer blocked(GbkFromPath(fs::path(dir.path().toStdString())) + "/",
                      "http://127.0.0.1:" + port + "/");
  EXPECT_FALSE(StartShareServer(blocked, "http://127.0.0.1:" + port + "/", log));
  probe.close();
  ShareServer free(GbkFromPath(fs::path(dir.path().toStdString())) + "/", "http://127.0.0.1:" + port + "/");
  EXPECT_TRUE(StartShareServer(free, "http://127.0.0.1:" + port + "/", log));
  EXPECT_EQ(free.Port(), busy);
  EXPECT_FALSE(StartShareServer(free, "http://127.0.0.1:99999/", log));
  ASSERT_EQ(log.lines.size(), 4u);
  EXPECT_EQ(log.lines[0].kind, 1);
  EXPECT_EQ(log.lines[0].text, G("共享服务启动失败: ") + port);
  EXPECT_EQ(log.lines[1].kind, 2);
  EXPECT_EQ(log.lines[1].text, G("共享服务启动成功: ") + port);
  EXPECT_EQ(log.lines[2].kind, 3);
  EXPECT_EQ(log.lines[2].text, G("共享服务地址: 127.0.0.1:") + port);
  EXPECT_EQ(log.lines[3].kind, 1);
  EXPECT_EQ(log.lines[3].text, G("共享服务地址无效: ") + "http://127.0.0.1:99999/");
}

// A desktop session's usual open-file limit: the controller link and the share server, each
// with every connection it may hold (a share connection with the file it answers with), fit
// together with what the process has open and the reserve. In a child process, whose limit is
// lowered for good.
TEST(DescriptorBudget, BothServersFitUnderALimitOf1024WithTheReserve) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const rlimit low{1024, 1024};
    if (::setrlimit(RLIMIT_NOFILE, &low) != 0) ::_exit(2);
    testing::FakeClock clock;
    RecordingLog log;
    ControllerLink link(log, clock);
    ShareServerOptions options;
    options.linkConnections = kMaxConnections;
    ShareServer share(folder.path().toStdString() + "/", "http://127.0.0.1/share/", options);
    const bool listening =
        link.Listen(0, QHostAddress::LocalHost) && share.Listen(0, QHostAddress::LocalHost);
    long long open = 0;
    for ([[maybe_unused]] const auto& fd : fs::directory_iterator("/proc/self/fd")) ++open;
    // As docs/link_limits.md gives them: 64 card connections, 448 share connections.
    const long long needed =
        static_cast<long long>(link.ConnectionCapacity()) + 2LL * share.ConnectionLimit();
    const bool ok = listening && link.ConnectionCapacity() == 64 && share.ConnectionLimit() == 448 &&
                    needed + kDescriptorReserve <= 1024 && open + needed <= 1024;
    if (!ok)
      std::fprintf(stderr, "listening %d, link %zu, share %u, open %lld\n", listening,
                   link.ConnectionCapacity(), share.ConnectionLimit(), open);
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace aqled
