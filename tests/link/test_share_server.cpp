#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "link/share_server.h"
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
  EXPECT_TRUE(QTest::qWaitFor(
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

TEST_F(ShareServerTest, FolderCreatedLaterIsServed) {
  ShareServer later(GbkFromPath(root_ / "later") + "/", "http://127.0.0.1/");
  EXPECT_FALSE(later.Resolve("/a.bmp"));
  fs::create_directory(root_ / "later");
  testing::WriteBytes(root_ / "later" / "a.bmp", "a");
  EXPECT_TRUE(later.Resolve("/a.bmp"));
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

}  // namespace
}  // namespace aqled
