// The HTTPS client and the station run against the stand-in data site on 127.0.0.1, all on
// this test's one event loop.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "station_site.h"
#include "stations/catalogue.h"
#include "stations/https_client.h"
#include "stations/trust.h"
#include "stations/update.h"
#include "test_support.h"

namespace aqled {
namespace {

using stationsite::Answer;
using stationsite::FailingSetup;
using stationsite::OnceOnRequest;
using stationsite::StationPageHtml;
using stationsite::StationSetup;
using stationsite::StationSite;
using testing::G;
using testing::RecordingLog;
using testing::U;

// The readings each station's page prints in these tests (UTF-8, as the site sends them).
stationsite::PageValues Values(int station) {
  switch (station) {
    case 1:
      return {"清新", "1250", "18", "96", "2024-03-05 08:00"};
    case 2:
      return {"非常清新", "3400", "9", "72", "2024-03-05 09:00"};
    case 3:
      return {"一般", "980", "25", "110", "2024-03-05 10:00"};
    default:
      return {"清新", "560", "-", "-", "2024-03-05 11:00"};
  }
}

// The kind-3 lines of the stations with the values above, written out in full.
const char* const kFetchedLine[] = {
    "",
    "获取 祯埠镇 等级 清新 负氧离子 1250 PM2.5 18 臭氧 96 发布时间 2024-03-05 08:00",
    "获取 石门洞 等级 非常清新 负氧离子 3400 PM2.5 9 臭氧 72 发布时间 2024-03-05 09:00",
    "获取 小舟山 等级 一般 负氧离子 980 PM2.5 25 臭氧 110 发布时间 2024-03-05 10:00",
    "获取 千峡湖 等级 清新 负氧离子 560 PM2.5 - 臭氧 - 发布时间 2024-03-05 11:00",
};
const char* const kEmptyLine1 = "获取 祯埠镇 等级  负氧离子  PM2.5  臭氧  发布时间 ";

Dtstr Expected(int station) {
  const auto v = Values(station);
  return Dtstr{G(v.pm25.c_str()), G(v.ozone.c_str()), G(v.negativeIons.c_str()), G(v.level.c_str())};
}

std::string Repeated(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

std::string Path(int station) {
  return "/zjqxkqfb/site/" + std::string(StationCatalogue()[station - 1].siteId);
}

class StationFetchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new QTemporaryDir;
    certOk_ = dir_->isValid() && stationsite::MakeCertificate(dir_->path(), &cert_, &key_, &certError_);
    // A certificate for another host name, in a folder of its own.
    certOk_ = certOk_ && QDir(dir_->path()).mkdir("elsewhere") &&
              stationsite::MakeCertificate(dir_->path() + "/elsewhere", &elsewhereCert_, &elsewhereKey_,
                                           &certError_, "DNS:elsewhere.invalid");
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(certOk_) << certError_.toStdString();
    QString error;
    ASSERT_TRUE(site_.Start(cert_, key_, 0, &error)) << error.toStdString();
    for (int n = 1; n <= kStationCount; ++n) Serve(n, StationSetup{});
    urls_ = BuildStationUrls(site_.Base());
    for (int n = 1; n <= kStationCount; ++n) {
      readings_[n] = Dtstr{"old pm", "old o3", "old ions", "old level"};
    }
  }

  void Serve(int station, StationSetup setup) {
    setup.values = Values(station);
    stationsite::ServeStation(site_, station, setup);
  }

  std::string Url(const std::string& path) const { return site_.Base() + path; }
  std::string Port() const { return std::to_string(site_.serverPort()); }

  // A client that trusts the stand-in site's certificate the way an operator makes it trust
  // the site: its CA file named as Path/StationCA.
  static std::unique_ptr<HttpsClient> Client(int timeoutMs = kHttpTimeoutMs) {
    auto client = std::make_unique<HttpsClient>(timeoutMs);
    ProgramSettings settings;
    settings.StationCA = cert_.toStdString();
    const StationTrust trust = LoadStationTrust(settings, "/");
    EXPECT_EQ(trust.problem, "");
    client->SetTrust(trust.trust);
    return client;
  }

  // Runs one station cycle; `renderedAfter_` records the number of log lines at the point where
  // the caller draws, which it does only after a successful run.
  bool Run(int timeoutMs = kHttpTimeoutMs) {
    auto client = Client(timeoutMs);
    StationUpdater updater(*client, log_);
    const bool ok = updater.UpdateStationPages(urls_, readings_, publishTimes_);
    if (ok) renderedAfter_.push_back(log_.lines.size());
    lastFetched_ = updater.LastFetched();
    return ok;
  }

  void ExpectLines(const std::vector<std::pair<int, std::string>>& expected) {
    ASSERT_EQ(log_.lines.size(), expected.size()) << ::testing::PrintToString(log_.Texts());
    for (size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(log_.lines[i].kind, expected[i].first) << "line " << i;
      EXPECT_EQ(U(log_.lines[i].text), U(expected[i].second)) << "line " << i;
      EXPECT_EQ(log_.lines[i].text, expected[i].second) << "line " << i;
    }
  }

  static inline QTemporaryDir* dir_ = nullptr;
  static inline bool certOk_ = false;
  static inline QString cert_, key_, certError_;
  static inline QString elsewhereCert_, elsewhereKey_;

  StationSite site_;
  StationUrlTable urls_;
  StationReadings readings_;
  StationPublishTimes publishTimes_{"", "old 1", "old 2", "old 3", "old 4"};
  RecordingLog log_;
  std::vector<size_t> renderedAfter_;
  int lastFetched_ = -1;
};

TEST_F(StationFetchTest, RequestIsExactlyTheFourLines) {
  auto client = Client();
  const HttpResponse r = client->Get(urls_[1]);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.reason, "OK");
  EXPECT_EQ(r.body, StationPageHtml("站点1", Values(1), stationsite::LineEnds::kCrLf));
  ASSERT_EQ(site_.Requests().size(), 1u);
  const QByteArray expected = QByteArray("GET /zjqxkqfb/site/9efe4be1d20c476e8f1438f06e56d870 HTTP/1.0\r\n") +
                              "Accept: */*\r\n" + "User-Agent: Mozilla/4.0\r\n" +
                              "Host: 127.0.0.1:" + QByteArray::fromStdString(Port()) + "\r\n" + "\r\n";
  EXPECT_EQ(site_.Requests()[0].bytes, expected);
}

// The address is GBK like every text of the system (Path/StationSite in config.ini): a Chinese
// path goes out as its UTF-8 bytes percent-encoded.
TEST_F(StationFetchTest, AChinesePathIsAskedForAsPercentEncodedUtf8) {
  auto client = Client();
  client->Get(Url(G("/站点/页面")));
  ASSERT_EQ(site_.Requests().size(), 1u);
  EXPECT_TRUE(site_.Requests()[0].bytes.startsWith("GET /%E7%AB%99%E7%82%B9/%E9%A1%B5%E9%9D%A2 HTTP/1.0\r\n"))
      << site_.Requests()[0].bytes.toStdString();
}

TEST_F(StationFetchTest, AllFourFetchedLogFourLinesThenDraw) {
  auto client = Client();
  StationUpdater updater(*client, log_);
  std::vector<std::string> pageTexts;
  updater.SetPageTextSink([&](const std::string& text) { pageTexts.push_back(text); });
  const bool ok = updater.UpdateStationPages(urls_, readings_, publishTimes_);
  if (ok) renderedAfter_.push_back(log_.lines.size());
  EXPECT_TRUE(ok);
  ExpectLines(
      {{3, G(kFetchedLine[1])}, {3, G(kFetchedLine[2])}, {3, G(kFetchedLine[3])}, {3, G(kFetchedLine[4])}});
  EXPECT_EQ(renderedAfter_, std::vector<size_t>{4});
  EXPECT_EQ(updater.LastFetched(), 4);
  EXPECT_EQ(publishTimes_, (StationPublishTimes{"", "2024-03-05 08:00", "2024-03-05 09:00",
                                                "2024-03-05 10:00", "2024-03-05 11:00"}));
  for (int n = 1; n <= kStationCount; ++n) EXPECT_EQ(readings_[n], Expected(n)) << "station " << n;
  ASSERT_EQ(pageTexts.size(), 4u);
  EXPECT_EQ(pageTexts[3], G(StationPageHtml("站点4", Values(4), stationsite::LineEnds::kCrLf).c_str()));
  EXPECT_FALSE(updater.Running());
  // Catalogue order, one GET each.
  ASSERT_EQ(site_.Requests().size(), 4u);
  for (int n = 1; n <= kStationCount; ++n) EXPECT_EQ(site_.Requests()[n - 1].path, Path(n));
}

TEST_F(StationFetchTest, FailedStationKeepsItsReadingsAndNothingIsDrawn) {
  Serve(2, FailingSetup(404, "Page Gone Fishing"));
  EXPECT_FALSE(Run());
  ExpectLines(
      {{3, G(kFetchedLine[1])},
       {1, "\xBB\xF1\xC8\xA1 [" + urls_[2] +
               "] \xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC \xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB: Page Gone Fishing"},
       {3, G(kFetchedLine[3])},
       {3, G(kFetchedLine[4])}});
  EXPECT_EQ(U(log_.lines[1].text), "获取 [" + urls_[2] + "] 数据失败 错误代码: Page Gone Fishing");
  EXPECT_TRUE(renderedAfter_.empty());
  EXPECT_EQ(readings_[1], Expected(1));
  EXPECT_EQ(readings_[2], (Dtstr{"old pm", "old o3", "old ions", "old level"}));
  EXPECT_EQ(readings_[3], Expected(3));
  EXPECT_EQ(readings_[4], Expected(4));
  EXPECT_EQ(publishTimes_[2], "old 2");
  EXPECT_EQ(publishTimes_[3], "2024-03-05 10:00");
  EXPECT_EQ(lastFetched_, 3);
}

struct AnswerCase {
  const char* name;
  StationSetup setup;   // for station 1; the others answer with their pages
  const char* failure;  // the message of station 1's failure (UTF-8); nullptr: its page's readings
  size_t requests;      // GETs the site sees for station 1
};
void PrintTo(const AnswerCase& c, std::ostream* os) { *os << c.name; }

StationSetup Answering(StationSetup::Mode mode, int redirects = 1,
                       stationsite::LineEnds ends = stationsite::LineEnds::kCrLf) {
  StationSetup s;
  s.mode = mode;
  s.redirects = redirects;
  s.lineEnds = ends;
  return s;
}

class StationAnswerTest : public StationFetchTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(StationAnswerTest, StationCountsAsFetchedOnlyWithReadings) {
  const AnswerCase& c = GetParam();
  Serve(1, c.setup);
  const bool pageReadings = c.failure == nullptr;
  EXPECT_EQ(Run(), pageReadings);
  const std::string failed = "获取 [" + urls_[1] + "] 数据失败 错误代码: " + (pageReadings ? "" : c.failure);
  ExpectLines({{pageReadings ? 3 : 1, G(pageReadings ? kFetchedLine[1] : failed.c_str())},
               {3, G(kFetchedLine[2])},
               {3, G(kFetchedLine[3])},
               {3, G(kFetchedLine[4])}});
  EXPECT_EQ(readings_[1], pageReadings ? Expected(1) : (Dtstr{"old pm", "old o3", "old ions", "old level"}));
  EXPECT_EQ(publishTimes_[1], pageReadings ? "2024-03-05 08:00" : "old 1");
  EXPECT_EQ(renderedAfter_, pageReadings ? std::vector<size_t>{4} : std::vector<size_t>{});
  EXPECT_EQ(site_.Requests().size(), c.requests + 3);
}

TEST(StationLines, AllEmptyReadingsStillCarryEveryLabel) {
  EXPECT_EQ(StationReadingsLine(StationName(1), Dtstr{}, ""), G(kEmptyLine1));
}

TEST_F(StationFetchTest, AnErrorPageWithOneReadingIsStillAStationsPage) {
  Answer partial;
  partial.body = "<html><tr><a><b><c><d><e>label</span><i>tief</span></tr></html>";
  site_.SetAnswer(Path(1), partial);
  EXPECT_TRUE(Run());
  EXPECT_EQ(readings_[1], (Dtstr{"", "", "", "tief"}));
  EXPECT_EQ(U(log_.lines[0].text), "获取 祯埠镇 等级 tief 负氧离子  PM2.5  臭氧  发布时间 ");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, StationAnswerTest,
    ::testing::Values(
        AnswerCase{"UnauthorizedBodyIsCutLikeAPage", Answering(StationSetup::Mode::kUnauthorized), nullptr,
                   1},
        AnswerCase{"FiveRedirectsReachThePage", Answering(StationSetup::Mode::kRedirects, 5), nullptr, 6},
        // The sixth redirect is not followed: the station fails.
        AnswerCase{"SixthRedirectIsAFailure", Answering(StationSetup::Mode::kRedirects, 6),
                   "Too many redirects", 6},
        // A body from which nothing could be cut is a failed station with a reason of the system's own.
        AnswerCase{"InvalidUtf8GivesNoReadings", Answering(StationSetup::Mode::kBadUtf8),
                   "页面中没有找到任何数据", 1},
        AnswerCase{"LfOnlyPageIsCutLikeAnyOther",
                   Answering(StationSetup::Mode::kPage, 1, stationsite::LineEnds::kLf), nullptr, 1},
        AnswerCase{"CrOnlyPageIsCutLikeAnyOther",
                   Answering(StationSetup::Mode::kPage, 1, stationsite::LineEnds::kCr), nullptr, 1}),
    [](const auto& info) { return std::string(info.param.name); });

struct OverlongCase {
  const char* name;
  std::string stationsite::PageValues::*field;
  std::string value;    // what station 1's page prints there (UTF-8)
  const char* failure;  // the failure message (UTF-8); nullptr: the value is a reading
};
void PrintTo(const OverlongCase& c, std::ostream* os) { *os << c.name; }

class OverlongValueTest : public StationFetchTest, public ::testing::WithParamInterface<OverlongCase> {};

TEST_P(OverlongValueTest, AValueLongerThanAReadingFailsThePage) {
  const OverlongCase& c = GetParam();
  stationsite::PageValues values = Values(1);
  values.*c.field = c.value;
  Answer page;
  page.body = StationPageHtml("x", values, stationsite::LineEnds::kCrLf);
  site_.SetAnswer(Path(1), page);
  Run();
  ASSERT_EQ(log_.lines.size(), 4u);
  if (c.failure == nullptr) {
    EXPECT_EQ(log_.lines[0].kind, kLogInfo);
    EXPECT_NE(log_.lines[0].text.find(G(c.value.c_str())), std::string::npos) << U(log_.lines[0].text);
    EXPECT_NE(readings_[1], (Dtstr{"old pm", "old o3", "old ions", "old level"}));
  } else {
    EXPECT_EQ(log_.lines[0].kind, kLogError);
    EXPECT_EQ(U(log_.lines[0].text), "获取 [" + urls_[1] + "] 数据失败 错误代码: " + c.failure);
    EXPECT_EQ(readings_[1], (Dtstr{"old pm", "old o3", "old ions", "old level"}));
    EXPECT_EQ(publishTimes_[1], "old 1");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Values, OverlongValueTest,
    ::testing::Values(
        OverlongCase{"PmAtTheBound", &stationsite::PageValues::pm25, std::string(32, '7'), nullptr},
        OverlongCase{"PmOneByteOver", &stationsite::PageValues::pm25, std::string(33, '7'),
                     "页面中的PM2.5过长: 33 字节, 最多 32 字节"},
        // Seventeen characters of two bytes each in GBK.
        OverlongCase{"LevelOfSeventeenCharacters", &stationsite::PageValues::level, Repeated("清", 17),
                     "页面中的等级过长: 34 字节, 最多 32 字节"},
        OverlongCase{"TenMegabyteOzone", &stationsite::PageValues::ozone, std::string(10 << 20, '9'),
                     "页面中的臭氧过长: 10485760 字节, 最多 32 字节"},
        OverlongCase{"PublishTimeAtTheBound", &stationsite::PageValues::publishTime, std::string(64, '1'),
                     nullptr},
        OverlongCase{"PublishTimeOneByteOver", &stationsite::PageValues::publishTime, std::string(65, '1'),
                     "页面中的发布时间过长: 65 字节, 最多 64 字节"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StationFetchTest, SiteTextsAreCutInTheLogAndTheWorkBoxGetsAHead) {
  Answer refused;
  refused.status = 403;
  refused.reason = std::string(60000, 'r');
  site_.SetAnswer(Path(1), refused);
  // One line of 200 KB: the page's own readings are at its end, the head is padding.
  Answer page;
  page.body = std::string(200000, ' ') + StationPageHtml("x", Values(2), stationsite::LineEnds::kLf);
  site_.SetAnswer(Path(2), page);
  auto client = Client();
  StationUpdater updater(*client, log_);
  std::vector<std::string> pageTexts;
  updater.SetPageTextSink([&](const std::string& text) { pageTexts.push_back(text); });
  updater.UpdateStationPages(urls_, readings_, publishTimes_);
  ASSERT_EQ(log_.lines.size(), 4u);
  EXPECT_EQ(U(log_.lines[0].text),
            "获取 [" + urls_[1] + "] 数据失败 错误代码: " + std::string(256, 'r') + "…(共 60000 字节)");
  EXPECT_EQ(log_.lines[1].text, G(kFetchedLine[2]));
  ASSERT_EQ(pageTexts.size(), 3u);
  // The first 16 KiB of the decoded page (GBK), then its length.
  EXPECT_EQ(pageTexts[0].find_first_not_of(' '), 16384u);
  EXPECT_EQ(U(pageTexts[0].substr(16384)), "…(共 " + std::to_string(G(page.body.c_str()).size()) + " 字节)");
}

TEST_F(StationFetchTest, FourByteCharactersInAPageKeepItsReadings) {
  // A footer with an emoji and 𠮷, characters GBK lacks, each four bytes in UTF-8.
  std::string html = StationPageHtml("站点1", Values(1), stationsite::LineEnds::kCrLf);
  const std::string footer = "<footer>\xF0\x9F\x98\x80 \xF0\xA0\xAE\xB7 2024</footer>\r\n";
  html.insert(html.find("</body>"), footer);
  Answer page;
  page.body = html;
  site_.SetAnswer(Path(1), page);
  auto client = Client();
  StationUpdater updater(*client, log_);
  std::vector<std::string> pageTexts;
  updater.SetPageTextSink([&](const std::string& text) { pageTexts.push_back(text); });
  EXPECT_TRUE(updater.UpdateStationPages(urls_, readings_, publishTimes_));
  ExpectLines(
      {{3, G(kFetchedLine[1])}, {3, G(kFetchedLine[2])}, {3, G(kFetchedLine[3])}, {3, G(kFetchedLine[4])}});
  EXPECT_EQ(readings_[1], Expected(1));
  ASSERT_FALSE(pageTexts.empty());
  EXPECT_NE(pageTexts[0].find("<footer>? ? 2024</footer>"), std::string::npos);
}

TEST_F(StationFetchTest, TheTimeOutNeverCutsARequestShort) {
  Answer silent;
  silent.silent = true;
  site_.SetAnswer("/silent", silent);
  // A coarse timer may end a wait up to 5 % early; a few rounds catch that.
  constexpr int kTimeoutMs = 200;
  auto client = Client(kTimeoutMs);
  for (int round = 0; round < 5; ++round) {
    QElapsedTimer elapsed;
    elapsed.start();
    const HttpResponse r = client->Get(Url("/silent"));
    EXPECT_EQ(r.error, kTimeoutText);
    EXPECT_GE(elapsed.elapsed(), kTimeoutMs) << "round " << round;
  }
}

TEST_F(StationFetchTest, NoAnswerTimesOutAndTheNextStationStarts) {
  Serve(3, Answering(StationSetup::Mode::kSilent));
  EXPECT_FALSE(Run(300));
  ExpectLines({{3, G(kFetchedLine[1])},
               {3, G(kFetchedLine[2])},
               {1, G(("获取 [" + urls_[3] + "] 数据失败 错误代码: Request aborted on timeout").c_str())},
               {3, G(kFetchedLine[4])}});
  EXPECT_EQ(readings_[4], Expected(4));
  EXPECT_TRUE(renderedAfter_.empty());
}

TEST_F(StationFetchTest, ProgressKeepsARequestAlive) {
  // About 1.4 kB in pieces of 100 bytes every 50 ms: far longer in all than the 400 ms
  // time-out, but never 400 ms without a byte.
  Answer trickle;
  trickle.body = StationPageHtml("x", Values(1), stationsite::LineEnds::kCrLf);
  trickle.chunkDelayMs = 50;
  trickle.chunkBytes = 100;
  site_.SetAnswer("/slow", trickle);
  auto client = Client(400);
  const HttpResponse r = client->Get(Url("/slow"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, trickle.body);
}

struct StatusCase {
  int status;
  const char* reason;
  bool ok;
};
void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.status << " " << c.reason; }

class StatusRuleTest : public StationFetchTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(StatusRuleTest, SucceedsOrFailsWithTheReasonPhrase) {
  Answer a;
  a.status = GetParam().status;
  a.reason = GetParam().reason;
  a.body = "body of the answer";
  site_.SetAnswer("/status", a);
  auto client = Client();
  const HttpResponse r = client->Get(Url("/status"));
  EXPECT_EQ(r.ok, GetParam().ok);
  EXPECT_EQ(r.status, GetParam().status);
  if (GetParam().ok) {
    EXPECT_EQ(r.body, "body of the answer");
  } else {
    EXPECT_EQ(r.error, GetParam().reason);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusRuleTest,
    ::testing::Values(StatusCase{200, "OK", true}, StatusCase{204, "No Content", true},
                      StatusCase{302, "Found without a Location", true}, StatusCase{399, "Odd", true},
                      StatusCase{400, "Bad Request", false}, StatusCase{401, "Unauthorized", true},
                      StatusCase{403, "  Two  blanks kept ", false}, StatusCase{404, "Not Found", false},
                      StatusCase{407, "Proxy Authentication Required", true},
                      StatusCase{500, "Internal Server Error", false}, StatusCase{503, "", false}));

struct FailureCase {
  const char* name;
  Answer answer;
  std::string error;
  int deadlineMs = kFetchDeadlineMs;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

Answer Raw(std::string bytes) {
  Answer a;
  a.raw = std::move(bytes);
  return a;
}

Answer HangUp() {
  Answer a;
  a.hangUp = true;
  return a;
}

// A page sent one byte every 20 ms: progress all the time, the end after a minute.
Answer Drip() {
  Answer a;
  a.body = StationPageHtml("x", Values(1), stationsite::LineEnds::kCrLf);
  a.chunkDelayMs = 20;
  a.chunkBytes = 1;
  return a;
}

// A redirect to itself whose answer carries a whole station page.
Answer RedirectLoopWithAPage() {
  Answer a = stationsite::RedirectAnswer("/fail");
  a.body = StationPageHtml("x", Values(1), stationsite::LineEnds::kCrLf);
  return a;
}

class ClientFailureTest : public StationFetchTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ClientFailureTest, FailsWithAClearText) {
  site_.SetAnswer("/fail", GetParam().answer);
  auto client = Client(5000);
  client->SetDeadlineMs(GetParam().deadlineMs);
  const HttpResponse r = client->Get(Url("/fail"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ClientFailureTest,
    ::testing::Values(
        FailureCase{"ClosedBeforeTheStatusLine", HangUp(), "Connection closed before the server answered"},
        FailureCase{"BodyShorterThanContentLength",
                    Raw("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort"),
                    "Connection closed before the whole body arrived"},
        FailureCase{"NotAnHttpAnswer", Raw("SSH-2.0-OpenSSH\r\n\r\n"),
                    "Malformed status line from the server"},
        FailureCase{"HeadWithoutEnd", Raw("HTTP/1.0 200 OK\r\nX: y"),
                    "Connection closed before the server answered"},
        FailureCase{"OnlyAnInterimAnswer", Raw("HTTP/1.1 100 Continue\r\n\r\n"),
                    "Connection closed before the server answered"},
        FailureCase{"EndlessInterimAnswers",
                    Raw(Repeated("HTTP/1.1 100 Continue\r\n\r\n", 9) + "HTTP/1.0 200 OK\r\n\r\nlate"),
                    "Too many interim answers from the server"},
        FailureCase{"DripPastTheDeadline", Drip(), "Request not complete within the fetch deadline", 400},
        FailureCase{"RedirectPastTheFifthCarryingAPage", RedirectLoopWithAPage(), "Too many redirects"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StationFetchTest, InterimAnswersAreSkipped) {
  site_.SetAnswer("/interim",
                  Raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n"
                      "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nbody"));
  site_.SetAnswer("/interim-404", Raw("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.0 404 Gone Away\r\n\r\nnothing"));
  auto client = Client();
  HttpResponse r = client->Get(Url("/interim"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "body");
  r = client->Get(Url("/interim-404"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 404);
  EXPECT_EQ(r.error, "Gone Away");
}

TEST_F(StationFetchTest, BodyRunsToTheCloseOrToContentLength) {
  site_.SetAnswer("/close", Raw("HTTP/1.0 200 OK\r\nServer: x\r\n\r\nto the close\r\n"));
  site_.SetAnswer("/length", Raw("HTTP/1.0 200 OK\r\ncontent-length: 4\r\n\r\nfour and more"));
  auto client = Client();
  HttpResponse r = client->Get(Url("/close"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, "to the close\r\n");
  r = client->Get(Url("/length"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, "four");
}

TEST_F(StationFetchTest, RefusedConnectionFails) {
  QTcpServer closed;
  ASSERT_TRUE(closed.listen(QHostAddress::LocalHost, 0));
  const std::string url = "https://127.0.0.1:" + std::to_string(closed.serverPort()) + "/x";
  closed.close();
  auto client = Client(5000);
  EXPECT_EQ(client->Get(url).error, "Connection refused by the server");
}

TEST_F(StationFetchTest, PeerWithoutTlsFailsTheHandshake) {
  QTcpServer plain;
  ASSERT_TRUE(plain.listen(QHostAddress::LocalHost, 0));
  QObject::connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
    QTcpSocket* s = plain.nextPendingConnection();
    s->write("HTTP/1.0 200 OK\r\n\r\nplain text, no TLS\r\n");
    s->disconnectFromHost();
  });
  auto client = Client(5000);
  const HttpResponse r = client->Get("https://127.0.0.1:" + std::to_string(plain.serverPort()) + "/x");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error.rfind("TLS handshake failed: ", 0), 0u) << r.error;
}

TEST_F(StationFetchTest, AddressesOtherThanHttpAreRefused) {
  auto client = Client();
  EXPECT_EQ(client->Get("ftp://127.0.0.1/x").error, "Invalid address: ftp://127.0.0.1/x");
  EXPECT_EQ(client->Get("no address").error.rfind("Invalid address: ", 0), 0u);
  EXPECT_TRUE(site_.Requests().empty());
}

TEST_F(StationFetchTest, RedirectsResolveAbsoluteAndRelativeLocations) {
  site_.SetAnswer("/start/here", stationsite::RedirectAnswer(Url("/abs/one")));
  site_.SetAnswer("/abs/one", stationsite::RedirectAnswer("../rel/two?x=1"));
  Answer page;
  page.body = "arrived";
  site_.SetAnswer("/rel/two", page);
  auto client = Client();
  const HttpResponse r = client->Get(Url("/start/here"));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.body, "arrived");
  EXPECT_EQ(r.redirects, 2);
  ASSERT_EQ(site_.Requests().size(), 3u);
  EXPECT_EQ(site_.Requests()[0].path, "/start/here");
  EXPECT_EQ(site_.Requests()[1].path, "/abs/one");
  EXPECT_EQ(site_.Requests()[2].path, "/rel/two");
  EXPECT_TRUE(site_.Requests()[2].bytes.startsWith("GET /rel/two?x=1 HTTP/1.0\r\n"));
}

struct TrustCase {
  const char* name;
  bool elsewhere;       // the site serves the certificate made for another host name
  bool stationCa;       // Path/StationCA names the certificate the site serves
  int tlsVerify;        // Set/TlsVerify
  const char* failure;  // the failure message (UTF-8); nullptr: the page arrives
};
void PrintTo(const TrustCase& c, std::ostream* os) { *os << c.name; }

class TrustTest : public StationFetchTest, public ::testing::WithParamInterface<TrustCase> {};

TEST_P(TrustTest, OnlyATrustedCertificateForTheHostGivesThePage) {
  const TrustCase& c = GetParam();
  StationSite elsewhere;
  QString error;
  ASSERT_TRUE(elsewhere.Start(elsewhereCert_, elsewhereKey_, 0, &error)) << error.toStdString();
  stationsite::ServeStation(elsewhere, 1, stationsite::DefaultSetup(1));
  const StationSite& site = c.elsewhere ? elsewhere : site_;
  ProgramSettings settings;
  settings.TlsVerify = c.tlsVerify;
  if (c.stationCa) settings.StationCA = (c.elsewhere ? elsewhereCert_ : cert_).toStdString();
  const StationTrust trust = LoadStationTrust(settings, "/");
  ASSERT_EQ(trust.problem, "");
  HttpsClient client;
  client.SetTrust(trust.trust);
  const HttpResponse r = client.Get(site.Base() + Path(1));
  if (c.failure == nullptr) {
    EXPECT_TRUE(r.ok) << U(r.error);
  } else {
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(U(r.error), c.failure);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, TrustTest,
    ::testing::Values(
        TrustCase{
            "UntrustedCertificateFails", false, false, 1,
            "证书验证失败: The certificate is self-signed, and untrusted (Path/StationCA, Set/TlsVerify)"},
        TrustCase{"ExtraCaFileTrustsIt", false, true, 1, nullptr},
        TrustCase{"SwitchedOffTakesAnyCertificate", false, false, 0, nullptr},
        TrustCase{"HostNameMismatchFails", true, true, 1,
                  "证书验证失败: The host name did not match any of the valid hosts for this certificate "
                  "(Path/StationCA, Set/TlsVerify)"}),
    [](const auto& info) { return std::string(info.param.name); });

struct ShortageCase {
  const char* name;
  bool cold;          // the TLS backend is first used during the shortage
  int exitCode;       // 0: the fetch after the shortage succeeded
  const char* after;  // the probe's line about that fetch, or its start
};
void PrintTo(const ShortageCase& c, std::ostream* os) { *os << c.name; }

class DescriptorShortageTest : public StationFetchTest, public ::testing::WithParamInterface<ShortageCase> {};

TEST_P(DescriptorShortageTest, AFetchWorksOnceDescriptorsCameBackIfTlsWasLoadedAtStartUp) {
  // A fresh process takes every descriptor it can, fetches, gives them back and fetches again;
  // this loop serves the site meanwhile.
  const ShortageCase& c = GetParam();
  QProcess probe;
  QStringList args{QString::fromStdString(urls_[1])};
  if (c.cold) args << "--cold";
  probe.start(AQLED_TLSPROBE_PATH, args);
  ASSERT_TRUE(aqled::testing::WaitFor([&] { return probe.state() == QProcess::NotRunning; }, 60000));
  const QByteArray out = probe.readAllStandardOutput();
  EXPECT_EQ(probe.exitCode(), c.exitCode) << out.toStdString();
  EXPECT_TRUE(out.contains("during the shortage")) << out.toStdString();
  EXPECT_TRUE(out.contains(QByteArray("\nafter: ") + c.after)) << out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Tls, DescriptorShortageTest,
    ::testing::Values(ShortageCase{"LoadedAtStartUp", false, 0, "ok\n"},
                      // Without the early load the library stays unusable for the process.
                      ShortageCase{"FirstUsedInTheShortage", true, 1, "Can't connect to the server: "}),
    [](const auto& info) { return std::string(info.param.name); });

// The tests below act while a request waits: station 1's answer is held at the site, and the
// action runs when the site has the request, inside the loop the client waits in.

TEST_F(StationFetchTest, ResetAbandonsTheRequestInProgress) {
  site_.Hold(Path(1));
  auto client = Client(60000);
  bool busyDuringWait = false;
  OnceOnRequest(site_, Path(1), [&] {
    busyDuringWait = client->Busy();
    client->Reset();
  });
  const HttpResponse r = client->Get(urls_[1]);
  EXPECT_TRUE(busyDuringWait);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Request abandoned");
  EXPECT_FALSE(client->Busy());
}

TEST_F(StationFetchTest, GetDuringAGetAbandonsTheFirst) {
  site_.Hold(Path(1));
  auto client = Client(60000);
  HttpResponse inner;
  OnceOnRequest(site_, Path(1), [&] { inner = client->Get(urls_[2]); });
  const HttpResponse outer = client->Get(urls_[1]);
  EXPECT_EQ(outer.error, "Request abandoned");
  ASSERT_TRUE(inner.ok) << inner.error;
  EXPECT_EQ(inner.body, StationPageHtml("站点2", Values(2), stationsite::LineEnds::kCrLf));
  EXPECT_FALSE(client->Busy());
}

TEST_F(StationFetchTest, ControllerEventsAreHandledDuringAFetch) {
  // A stand-in controller link on the same event loop: its read handler logs what arrives and
  // then lets station 1's page come.
  QTcpServer controller;
  ASSERT_TRUE(controller.listen(QHostAddress::LocalHost, 0));
  QObject::connect(&controller, &QTcpServer::newConnection, &controller, [&] {
    QTcpSocket* s = controller.nextPendingConnection();
    QObject::connect(s, &QIODevice::readyRead, s, [this, s] {
      const QByteArray bytes = s->readAll();
      log_.AppendLog(kLogInfo, G("收到:") + bytes.toStdString());
      site_.Release(Path(1));
    });
  });
  QTcpSocket card;
  QObject::connect(&card, &QAbstractSocket::connected, &card, [&card] { card.write("LOGIN frame"); });

  site_.Hold(Path(1));
  OnceOnRequest(site_, Path(1),
                [&] { card.connectToHost(QHostAddress::LocalHost, controller.serverPort()); });
  EXPECT_TRUE(Run());
  ExpectLines({{kLogInfo, G("收到:LOGIN frame")},
               {3, G(kFetchedLine[1])},
               {3, G(kFetchedLine[2])},
               {3, G(kFetchedLine[3])},
               {3, G(kFetchedLine[4])}});
}

TEST_F(StationFetchTest, SecondRunDuringAFetchIsRefused) {
  site_.Hold(Path(1));
  auto client = Client();
  StationUpdater updater(*client, log_);
  bool runningSeen = false;
  bool secondResult = true;
  StationReadings other;
  StationPublishTimes otherTimes;
  OnceOnRequest(site_, Path(1), [&] {
    runningSeen = updater.Running();
    secondResult = updater.UpdateStationPages(urls_, other, otherTimes);
    site_.Release(Path(1));
  });
  EXPECT_TRUE(updater.UpdateStationPages(urls_, readings_, publishTimes_));
  EXPECT_TRUE(runningSeen);
  EXPECT_FALSE(secondResult);
  EXPECT_EQ(other, StationReadings{});
  EXPECT_EQ(otherTimes, StationPublishTimes{});
  // The first run went on undisturbed: station 1's request, waiting through the refused run,
  // got its page, and the others were fetched.
  ExpectLines(
      {{3, G(kFetchedLine[1])}, {3, G(kFetchedLine[2])}, {3, G(kFetchedLine[3])}, {3, G(kFetchedLine[4])}});
  EXPECT_EQ(site_.Requests().size(), 4u);
  EXPECT_FALSE(updater.Running());
}

// --- the site's gate --------------------------------------------------------------------------

// A bare TLS client of the test's own: sends one GET for `path` and keeps every byte that
// comes back.
class BareClient {
 public:
  BareClient(quint16 port, const std::string& path) {
    QObject::connect(&socket_, &QSslSocket::encrypted, &socket_, [this, path] {
      socket_.write(QByteArray::fromStdString("GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n"));
    });
    QObject::connect(&socket_, &QSslSocket::sslErrors, &socket_, [this] { socket_.ignoreSslErrors(); });
    QObject::connect(&socket_, &QIODevice::readyRead, &socket_, [this] { received_ += socket_.readAll(); });
    socket_.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket_.connectToHostEncrypted("127.0.0.1", port);
  }
  const QByteArray& Received() const { return received_; }
  bool Closed() const { return socket_.state() == QAbstractSocket::UnconnectedState; }

 private:
  QSslSocket socket_;
  QByteArray received_;
};

TEST_F(StationFetchTest, HeldRequestsGetNothingUntilTheReleaseWhileOtherPathsAreServed) {
  site_.Hold(Path(1));
  BareClient first(site_.serverPort(), Path(1));
  BareClient second(site_.serverPort(), Path(1));
  ASSERT_TRUE(aqled::testing::WaitFor([&] { return site_.Held(Path(1)) == 2; }, 10000));
  ASSERT_EQ(site_.Requests().size(), 2u);
  EXPECT_EQ(site_.Requests()[1].path, Path(1));

  // A whole exchange on another path while the two wait: had their answers been sent, they
  // would have arrived meanwhile.
  const HttpResponse other = Client()->Get(urls_[2]);
  ASSERT_TRUE(other.ok) << other.error;
  EXPECT_TRUE(first.Received().isEmpty());
  EXPECT_TRUE(second.Received().isEmpty());
  EXPECT_FALSE(first.Closed());

  site_.Release(Path(1));
  ASSERT_TRUE(aqled::testing::WaitFor([&] { return first.Closed() && second.Closed(); }, 10000));
  const QByteArray page =
      QByteArray::fromStdString(StationPageHtml("站点1", Values(1), stationsite::LineEnds::kCrLf));
  for (const BareClient* client : {&first, &second}) {
    EXPECT_TRUE(client->Received().startsWith("HTTP/1.0 200 OK\r\n")) << client->Received().left(40).data();
    EXPECT_TRUE(client->Received().endsWith("\r\n\r\n" + page));
  }
  EXPECT_EQ(site_.Held(Path(1)), 0u);
}

struct GateCase {
  const char* name;
  bool openBeforeTheRequest;  // Release comes before the request does
  bool clientGivesUp;         // the client abandons its request while it is held
};
void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }

class GateTest : public StationFetchTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(GateTest, TheClientGetsThePageOnceTheGateOpensAndTheSiteGoesOn) {
  const GateCase& c = GetParam();
  const std::string page = StationPageHtml("站点1", Values(1), stationsite::LineEnds::kCrLf);
  site_.Hold(Path(1));
  if (c.openBeforeTheRequest) site_.Release(Path(1));
  auto client = Client();
  size_t heldAtTheRequest = 99;
  OnceOnRequest(site_, Path(1), [&] {
    heldAtTheRequest = site_.Held(Path(1));
    if (c.clientGivesUp) {
      client->Reset();
    } else {
      site_.Release(Path(1));
    }
  });
  const HttpResponse r = client->Get(urls_[1]);
  EXPECT_EQ(heldAtTheRequest, c.openBeforeTheRequest ? 0u : 1u);
  if (c.clientGivesUp) {
    EXPECT_EQ(r.error, "Request abandoned");
    // The site forgets the request once its connection closes; the release finds nobody.
    ASSERT_TRUE(aqled::testing::WaitFor([&] { return site_.Held(Path(1)) == 0; }, 10000));
    site_.Release(Path(1));
  } else {
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.body, page);
  }
  // The gate stays open: the next request for the path is answered at once.
  const HttpResponse next = Client()->Get(urls_[1]);
  ASSERT_TRUE(next.ok) << next.error;
  EXPECT_EQ(next.body, page);
  EXPECT_EQ(site_.Requests().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Gates, GateTest,
                         ::testing::Values(GateCase{"ReleasedWhileTheClientWaits", false, false},
                                           GateCase{"OpenedBeforeTheRequest", true, false},
                                           GateCase{"ClientGivesUpBeforeTheRelease", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StationFetchTest, ARunIsOverWhenItReturnsSoADrawingErrorCannotBlockTheNext) {
  auto client = Client();
  StationUpdater updater(*client, log_);
  EXPECT_TRUE(updater.UpdateStationPages(urls_, readings_, publishTimes_));
  EXPECT_FALSE(updater.Running());
  EXPECT_EQ(log_.lines.size(), 4u);
  // Whatever the caller's drawing does after the run, the next run is not refused.
  EXPECT_TRUE(updater.UpdateStationPages(urls_, readings_, publishTimes_));
  EXPECT_EQ(log_.lines.size(), 8u);
}

}  // namespace
}  // namespace aqled
