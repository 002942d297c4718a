// The status page from afar: a real browser loads it from the window's share server after a
// delivery to aqled-cardsim, a real Prometheus server scrapes the metrics and fires the alert
// of a stale screen, and with the switch off the addresses are gone.
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTimer>

#include "browser.h"
#include "e2e_support.h"
#include "send_fixture.h"

using namespace aqled;
using namespace aqled::testing;

namespace {

struct StatusEndToEnd : CardFixture {
  // A window whose share server listens on a free port, with `setKeys` in section Set.
  void StartWindow(const std::string& setKeys) {
    sharePort = FreePort();
    ConfigFor(ShareBase() + "share/", "sendkind=1\r\nShareServer=1\r\n" + setKeys);
    form = StartSized(128, 64);
    Control<QTimer>(*form, "Timer1")->stop();
    form->Link().findChild<QTimer*>("PeriodicCheck")->stop();
    Control<QCheckBox>(*form, "zmcheck")->setChecked(false);
  }
  std::string ShareBase() const { return "http://127.0.0.1:" + std::to_string(sharePort) + "/"; }
  // A card named `name` logs in and a timed send at `t` delivers to it.
  void DeliverTo(const QString& name, const QDateTime& t) {
    StartCard(CardsimArgs(form->Link().ServerPort(), "SIM1", name, 128, 64, folder, 120));
    ASSERT_TRUE(WaitFor([&] { return form->Link().SlotConnected(1); })) << CardLog();
    clock.Set(t);
    form->Timer1Timer();
    ASSERT_TRUE(WaitFor([&] { return !form->Sending() && !form->Link().DeliveryInFlight(); }, 30000));
    ASSERT_EQ(form->LastSend()->state, SendState::kSucceeded) << ::testing::PrintToString(Lines(*form));
  }
  quint16 sharePort = 0;
  std::unique_ptr<TForm1> form;
};

struct PageCase {
  const char* test;
  const char* cardName;
  bool screenshot;
};
void PrintTo(const PageCase& c, std::ostream* os) { *os << c.test; }
struct StatusPage : StatusEndToEnd, ::testing::WithParamInterface<PageCase> {};

TEST_P(StatusPage, ShowsTheCardTheReadingsAndEveryPictureOnAirInABrowser) {
  if (!QFile::exists(kChromium)) GTEST_SKIP() << "chromium is not installed";
  const PageCase& c = GetParam();
  StartWindow("");
  const QDateTime t(QDate(2024, 3, 5), QTime(8, 0, 30));
  PublishAt(t);
  DeliverTo(QString::fromUtf8(c.cardName), t);

  Browser browser;
  ASSERT_TRUE(browser.Start(420));
  ASSERT_TRUE(browser.Load(ShareBase() + "status"));
  const nlohmann::json page = browser.Evaluate(R"(({
      name: document.getElementById('card-1-name').textContent,
      nameElements: document.querySelectorAll('#card-1-name *').length,
      cells: [...document.querySelectorAll('#on-air-stations td')].map(td => td.textContent),
      images: [...document.images].map(i => ({src: i.getAttribute('src'), width: i.naturalWidth})),
      height: document.documentElement.scrollHeight}))");
  EXPECT_EQ(page["name"], c.cardName);
  EXPECT_EQ(page["nameElements"], 0) << "the card's name made no element";
  for (int n = 1; n <= 4; ++n) {
    const stationsite::PageValues v = SiteValues(n);
    for (const std::string& value : {v.level, v.negativeIons, v.pm25, v.ozone, v.publishTime})
      EXPECT_NE(std::find(page["cells"].begin(), page["cells"].end(), value), page["cells"].end()) << value;
  }
  // The four station pages, staged in play order, each loaded from the share folder.
  ASSERT_EQ(page["images"].size(), 4u) << page.dump();
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(page["images"][k - 1]["src"], "/share/00" + std::to_string(k) + ".bmp");
    EXPECT_GT(page["images"][k - 1]["width"], 0) << "picture " << k << " did not load";
  }
  if (c.screenshot) {
    browser.Resize(420, page["height"].get<int>());
    // The page as a phone shows it: kept in the test's folder, or where
    // AQLED_DEMO_SCREENSHOTS names (docs/screenshots for the README).
    const QByteArray png = browser.Screenshot();
    EXPECT_TRUE(QImage::fromData(png, "PNG").width() > 0) << "the screenshot is a picture";
    const QString copies = qEnvironmentVariable("AQLED_DEMO_SCREENSHOTS");
    const QString folderName = copies.isEmpty() ? QString::fromStdString(folder.string()) : copies;
    QDir().mkpath(folderName);
    QFile shot(folderName + "/status_page.png");
    ASSERT_TRUE(shot.open(QIODevice::WriteOnly));
    shot.write(png);
  }
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, StatusPage,
                         ::testing::Values(PageCase{"PlainName", "north", true},
                                           PageCase{"MarkupName", "<img src=x onerror=alert(1)>", false}),
                         [](const auto& info) { return std::string(info.param.test); });

TEST_F(StatusEndToEnd, PrometheusFiresTheStaleScreenAlertWhenTheReadingsPassMaxDataAge) {
  if (!QFile::exists("/usr/bin/prometheus")) GTEST_SKIP() << "prometheus is not installed";
  StartWindow("MaxDataAge=1\r\n");
  // Readings fresh at the delivery that go stale a few seconds later, on the real clock that
  // Prometheus judges them by.
  const QDateTime now = QDateTime::currentDateTime();
  for (int n = 1; n <= 4; ++n) {
    stationsite::StationSetup setup;
    setup.values = SiteValues(n);
    setup.values.publishTime = now.addSecs(-3600 + 5).toString("yyyy-MM-dd hh:mm:ss").toStdString();
    stationsite::ServeStation(site, n, setup);
  }
  DeliverTo("north", now);

  // The shipped rules, their waits cut to nothing.
  QFile shipped(AQLED_SOURCE_DIR "/packaging/aqled.rules.yml");
  ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
  const QString rules =
      QString::fromUtf8(shipped.readAll()).replace(QRegularExpression("for: \\S+"), "for: 0s");
  WriteAll(folder / "rules.yml", rules.toStdString());
  const quint16 promPort = FreePort();
  WriteAll(folder / "prometheus.yml",
           "global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
           "rule_files: [rules.yml]\n"
           "scrape_configs:\n"
           "  - job_name: aqled\n"
           "    static_configs: [{targets: ['127.0.0.1:" +
               std::to_string(sharePort) + "']}]\n");
  QProcess prometheus;
  prometheus.setProcessChannelMode(QProcess::MergedChannels);
  const QString dir = QString::fromStdString(folder.string());
  prometheus.start("/usr/bin/prometheus",
                   {"--config.file=" + dir + "/prometheus.yml", "--storage.tsdb.path=" + dir + "/tsdb",
                    "--web.listen-address=127.0.0.1:" + QString::number(promPort)});
  ASSERT_TRUE(prometheus.waitForStarted(10000));

  // The alerts as Prometheus reports them, asked again at each tick of a one-second timer.
  const QString api = "http://127.0.0.1:" + QString::number(promPort) + "/api/v1/alerts";
  nlohmann::json alerts;
  auto staleFiring = [&] {
    for (const auto& a : alerts)
      if (a["labels"]["alertname"] == "AqledScreenStale" && a["labels"]["card"] == "1" &&
          a["state"] == "firing")
        return true;
    return false;
  };
  QNetworkAccessManager manager;
  manager.setProxy(QNetworkProxy::NoProxy);
  QTimer ask;
  ask.setInterval(1000);
  QObject::connect(&ask, &QTimer::timeout, [&] {
    QNetworkReply* reply = manager.get(QNetworkRequest(QUrl(api)));
    QObject::connect(reply, &QNetworkReply::finished, [&, reply] {
      reply->deleteLater();
      const auto answer = nlohmann::json::parse(reply->readAll().toStdString(), nullptr, false);
      if (answer.is_object() && answer.contains("data")) alerts = answer["data"]["alerts"];
    });
  });
  ask.start();
  EXPECT_TRUE(WaitFor(staleFiring, 90000)) << alerts.dump() << prometheus.readAll().toStdString();
  ask.stop();
  for (const auto& a : alerts) EXPECT_NE(a["labels"]["alertname"], "AqledCardGone");
  prometheus.terminate();
  prometheus.waitForFinished(10000);
}

TEST_F(StatusEndToEnd, SwitchedOffTheAddressesAreGoneAndTheShareFolderIsServed) {
  StartWindow("StatusPage=0\r\n");
  std::filesystem::create_directory(folder / "share");
  WriteAll(folder / "share" / "001.bmp", "picture");
  for (const char* path : {"", "status", "status.json", "metrics"})
    EXPECT_EQ(HttpGet(QString::fromStdString(ShareBase()) + path).status, 404) << path;
  const HttpAnswer picture = HttpGet(QString::fromStdString(ShareBase()) + "share/001.bmp");
  EXPECT_EQ(picture.status, 200);
  EXPECT_EQ(picture.body, "picture");
}

}  // namespace
