// The share server under floods on loopback. It runs as aqled-shareflood in a child process, so
// that its resident memory (/proc/<pid>/status) is its own.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "flood.h"
#include "programs.h"
#include "share/limits.h"
#include "test_support.h"

namespace aqled {
namespace {

using namespace shareflood;

// Resident memory the server may gain from a flood: a few MiB for the connections' buffers.
constexpr long kMemoryMarginKiB = 8 * 1024;
constexpr int kPictureBytes = 2 * 1024 * 1024;
constexpr unsigned kIdleTimeoutSeconds = 2;
constexpr int kBoundMs = 30000;

class ShareFlood : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    picture_.resize(kPictureBytes);
    for (int i = 0; i < kPictureBytes; ++i) picture_[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
    QFile f(dir_.path() + "/001.bmp");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(picture_), picture_.size());
    f.close();
    ServeOptions options;
    options.folder = dir_.path();
    options.idleTimeoutSeconds = kIdleTimeoutSeconds;
    ASSERT_TRUE(server_.Start(testing::BuiltProgram("aqled-shareflood"), options))
        << server_.Error().toStdString();
    // One answer first, so that what the first request loads counts as the start.
    ASSERT_EQ(Get().statusLine, "HTTP/1.1 200 OK");
    startKiB_ = ResidentKiB(server_.Pid());
    ASSERT_GT(startKiB_, 0);
  }
  Answer Get() {
    return Exchange(server_.Port(), "GET /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", false, false,
                    kBoundMs);
  }
  QTemporaryDir dir_;
  QByteArray picture_;
  ServerProcess server_;
  long startKiB_ = 0;
};

TEST_F(ShareFlood, AnEndlessHeadAndA512MiBBodyLeaveTheMemoryFlatAndAreClosed) {
  const Push head = EndlessHead(server_.Port(), 64LL * 1024 * 1024, kBoundMs);
  EXPECT_TRUE(head.closedByServer);
  EXPECT_LT(head.sent, 4 * 1024 * 1024)
      << "the head was read no further than its limit (and the socket buffers)";
  if (!head.statusLine.empty()) {  // the answer may be lost to the reset of the connection
    EXPECT_EQ(head.statusLine.rfind("HTTP/1.1 4", 0), 0u) << head.statusLine;
  }

  const Push body = HugeBody(server_.Port(), 512LL * 1024 * 1024, kBoundMs);
  EXPECT_TRUE(body.closedByServer);
  EXPECT_LT(body.sent, 16 * 1024 * 1024) << "the body was not read";
  if (!body.statusLine.empty()) {
    EXPECT_EQ(body.statusLine, "HTTP/1.1 404 Not Found");
  }

  EXPECT_LT(PeakResidentKiB(server_.Pid()) - startKiB_, kMemoryMarginKiB)
      << "peak against " << startKiB_ << " KiB";
  EXPECT_LT(ResidentKiB(server_.Pid()) - startKiB_, kMemoryMarginKiB);
  EXPECT_EQ(Get().statusLine, "HTTP/1.1 200 OK") << "the server goes on";
}

TEST_F(ShareFlood, FiveHundredIdleConnectionsAreCutAfterTheIdleTimeOutAndAGetIsServedMeanwhile) {
  IdleConnections idle;
  idle.Open(server_.Port(), 500, 25);  // from 20 other hosts on loopback
  ASSERT_TRUE(idle.WaitConnected(kBoundMs));
  const Answer during = Get();
  EXPECT_EQ(during.statusLine, "HTTP/1.1 200 OK");
  EXPECT_TRUE(during.body == picture_.toStdString());
  EXPECT_EQ(idle.Closed(), 0) << "none was cut before the GET was answered";
  ASSERT_TRUE(idle.WaitAllClosed(kBoundMs)) << idle.Closed() << " of 500 cut";
  EXPECT_GE(idle.FirstCloseMs(), static_cast<qint64>(kIdleTimeoutSeconds) * 1000 - 500)
      << "cut before the time-out";
  EXPECT_LT(ResidentKiB(server_.Pid()) - startKiB_, kMemoryMarginKiB);
}

TEST_F(ShareFlood, ThreeHundredParallelDownloadsOfTwoMiBAreByteExact) {
  const Downloads d = ParallelDownloads(server_.Port(), "/share/001.bmp", picture_, 300, kBoundMs * 2, 25);
  EXPECT_EQ(d.exact, 300);
  EXPECT_EQ(d.failed, 0);
}

TEST_F(ShareFlood, StrangersFillingTheServerAndAHostOnTheCardsAddressLeaveTheCardItsDownload) {
  constexpr unsigned kPlaces = 200;
  constexpr int kStrangerRoom = static_cast<int>(kPlaces - kShareCardReserve);
  constexpr int kPerAddress = static_cast<int>(kShareMaxConnectionsPerAddress);
  ServeOptions options;
  options.folder = dir_.path();
  options.maxConnections = kPlaces;
  options.cardAddresses = {"127.0.0.1"};
  ServerProcess server;
  ASSERT_TRUE(server.Start(testing::BuiltProgram("aqled-shareflood"), options))
      << server.Error().toStdString();
  // Strangers on ten other loopback addresses, each up to its limit: more than their room.
  IdleConnections strangers;
  strangers.Open(server.Port(), 10 * kPerAddress, kPerAddress);
  ASSERT_TRUE(aqled::testing::WaitFor([&] { return strangers.Closed() == 10 * kPerAddress - kStrangerRoom; },
                                      kBoundMs))
      << strangers.Closed() << " strangers closed";
  // A host on the card's own address fills the reserve and more.
  IdleConnections sameAddress;
  sameAddress.Open(server.Port(), 100);
  ASSERT_TRUE(sameAddress.WaitConnected(kBoundMs));
  // Each of its connections that takes the last place ends a stranger's, so one place stays free.
  const int displaced = 100 - (static_cast<int>(kPlaces) - 1 - kStrangerRoom);
  ASSERT_TRUE(aqled::testing::WaitFor(
      [&] { return strangers.Closed() == 10 * kPerAddress - kStrangerRoom + displaced; }, kBoundMs))
      << strangers.Closed() << " strangers closed";

  // The card gives up on a download after 10 s; it is served at once.
  const Answer card = Exchange(server.Port(), "GET /share/001.bmp HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", false,
                               false, kBoundMs);
  EXPECT_EQ(card.statusLine, "HTTP/1.1 200 OK");
  EXPECT_TRUE(card.body == picture_.toStdString());
  EXPECT_LT(card.ms, 2000);
  EXPECT_EQ(sameAddress.Closed(), 0) << "the strangers' idle connections went first";
}

}  // namespace
}  // namespace aqled
