#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>

#include "status/limits.h"
#include "status/status_page.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::G;

QDateTime At(int hour, int minute) { return QDateTime(QDate(2024, 3, 5), QTime(hour, minute)); }

std::string IsoTimeOf(const QDateTime& t) {
  return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

// A program at 08:30 with a card, two stations on air (station 2's readings stale at MaxDataAge
// 1), a failed last delivery and counted outcomes.
StatusFacts SampleFacts() {
  StatusFacts f;
  f.now = At(8, 30);
  f.started = At(6, 0);
  f.version = "1.0";
  f.cards = {{1,
              true,
              "SIM1",
              G("北门"),
              "127.0.0.1",
              true,
              At(8, 29),
              {},
              StatusCard::Played{At(8, 0), {"2024-03-05 08:00", "2024-03-05 07:00"}, false}}};
  StatusOnAir& a = f.onAir.emplace();
  a.since = At(8, 0);
  a.pictures = {{"/share/001.bmp", "1.bmp"}, {"/share/002.bmp", "2.bmp"}};
  a.stations = {{1, {"18", "96", "1250", G("清新")}, "2024-03-05 08:00"},
                {2, {"9", "72", "3400", G("清新")}, "2024-03-05 07:00"}};
  f.maxDataAgeHours = 1;
  f.lastDelivery = StatusDelivery{At(8, 20), true, DeliveryState::kFailed, false, G("超时")};
  f.nextSlot = At(10, 0);
  f.lastFetchAt = At(8, 20);
  f.fetches[3].outcome = FetchOutcome::kNoReadings;
  f.log = {{G("08:20:00:000  发送失败"), {255, 0, 0}}};
  f.counters.CountDelivery(DeliveryResult::kSucceeded);
  f.counters.CountDelivery(DeliveryResult::kSucceeded);
  f.counters.CountDelivery(DeliveryResult::kFailed);
  f.counters.CountFetch(3, FetchOutcome::kNoReadings);
  f.process = {50000000, 40, 1709589600};
  return f;
}

TEST(Status, AddressesAreExactPaths) {
  const struct {
    const char* path;
    std::optional<StatusAddress> address;
  } cases[] = {{"/", StatusAddress::kPage},
               {"/status", StatusAddress::kPage},
               {"/status.json", StatusAddress::kJson},
               {"/metrics", StatusAddress::kMetrics},
               {"/status/", std::nullopt},
               {"/share/status", std::nullopt},
               {"/metrics/x", std::nullopt}};
  for (const auto& c : cases) EXPECT_EQ(StatusAddressOf(c.path), c.address) << c.path;
}

// Every text that came from outside, hostile in every place the page shows one.
TEST(Status, EveryOutsideTextOnThePageIsEscapedAndBounded) {
  StatusFacts f = SampleFacts();
  const std::string hostile = "<script>\"x'&</script>";
  f.cards[0].tag = f.cards[0].name = f.cards[0].address = f.lastDelivery->reason = hostile;
  f.onAir->pictures.assign(1000, {hostile, hostile});
  f.onAir->stations[0].readings = {hostile, hostile, hostile, hostile};
  f.onAir->stations[0].publishTime = hostile;
  for (int n = 1; n <= kStationCount; ++n) f.fetches[static_cast<size_t>(n)].readings.level = hostile;
  f.log.assign(500, {hostile, {255, 0, 0}});
  const std::string page = StatusPageHtml(f);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("\"x"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;&quot;x&#39;&amp;&lt;/script&gt;"), std::string::npos);
  // Every text at its limit, each byte escaped to its longest.
  const std::string huge(100000, '"');
  f.lastDelivery->reason = f.onAir->pictures[0].source = huge;
  f.cards.assign(1000, {1, true, huge, huge, huge, false, At(8, 0), At(8, 1),
                        StatusCard::Played{At(8, 0), std::vector<std::string>(4, huge), true}});
  f.log.assign(500, {huge, {255, 0, 0}});
  for (const std::string& answer : {StatusPageHtml(f), StatusJson(f), MetricsText(f)})
    EXPECT_LE(answer.size(), kStatusMaxAnswerBytes);
}

TEST(Status, MetricsCarryTheFacts) {
  const StatusFacts f = SampleFacts();
  const std::string text = MetricsText(f);
  const std::string publishedAt7 = std::to_string(At(7, 0).toSecsSinceEpoch());
  for (const std::string& line :
       {std::string("aqled_card_connected{card=\"1\"} 1"),
        std::string("aqled_card_last_message_age_seconds{card=\"1\"} 60"),
        std::string("aqled_card_info{card=\"1\",tag=\"SIM1\",name=\"北门\"} 1"),
        std::string("aqled_deliveries_total{outcome=\"succeeded\"} 2"),
        std::string("aqled_deliveries_total{outcome=\"stalled\"} 0"),
        std::string("aqled_fetches_total{station=\"3\",outcome=\"no_readings\"} 1"),
        std::string("aqled_fetches_total{station=\"1\",outcome=\"ok\"} 0"),
        "aqled_on_air_publish_timestamp_seconds{station=\"2\"} " + publishedAt7,
        "aqled_on_air_oldest_publish_timestamp_seconds " + publishedAt7,
        "aqled_last_successful_delivery_timestamp_seconds " + std::to_string(At(8, 0).toSecsSinceEpoch()),
        std::string("aqled_max_data_age_seconds 3600"), std::string("aqled_delivery_slot_seconds 7200"),
        "aqled_next_slot_timestamp_seconds " + std::to_string(At(10, 0).toSecsSinceEpoch()),
        std::string("process_open_fds 40")})
    EXPECT_NE(text.find("\n" + line + "\n"), std::string::npos) << line << "\n" << text;
}

TEST(Status, JsonHasTheDocumentedShape) {
  const nlohmann::json j = nlohmann::json::parse(StatusJson(SampleFacts()));
  EXPECT_EQ(j["card"]["name"], "北门");
  EXPECT_EQ(j["card"]["connected"], true);
  EXPECT_EQ(j["on_air"]["pictures"][1]["url"], "/share/002.bmp");
  EXPECT_EQ(j["on_air"]["stations"][0]["fresh"], true);
  EXPECT_EQ(j["on_air"]["stations"][1]["fresh"], false);
  EXPECT_EQ(j["on_air"]["stations"][1]["pm25"], "9");
  EXPECT_EQ(j["last_delivery"]["state"], "failed");
  EXPECT_EQ(j["last_delivery"]["reason"], "超时");
  EXPECT_EQ(j["last_fetch"]["stations"][2]["outcome"], "no_readings");
  EXPECT_EQ(j["timed_delivery"]["next_slot"], IsoTimeOf(At(10, 0)));
  EXPECT_EQ(j["log"][0]["colour"], "#ff0000");
  EXPECT_EQ(j["uptime_seconds"], 9000);
}

TEST(Status, EachCardIsGoneFromWhenItIsFirstSeenGone) {
  StatusCounters c;
  const struct {
    int slot;
    bool connected;
    int minute;
    int askedSlot;
    QDateTime goneSince;  // null: not gone
  } steps[] = {
      {1, false, 0, 1, {}},  // never connected
      {1, true, 1, 1, {}},
      {3, true, 1, 3, {}},
      {1, false, 2, 1, At(8, 2)},
      {1, false, 3, 1, At(8, 2)},  // kept from the first time
      {3, true, 3, 3, {}},         // the other card is there all along
      {3, false, 5, 3, At(8, 5)},
      {1, true, 4, 1, {}},
      {2, true, 4, 2, {}},   // a slot between others
      {0, false, 6, 0, {}},  // no such slot: neither noted nor answered
      {kStatusMaxCards + 1, true, 6, kStatusMaxCards + 1, {}},
      {kStatusMaxCards + 1, false, 7, kStatusMaxCards + 1, {}},
  };
  for (const auto& s : steps) {
    c.NoteCard(s.slot, s.connected, At(8, s.minute));
    EXPECT_EQ(c.GoneSince(s.askedSlot), s.goneSince) << s.slot << " at 08:0" << s.minute;
  }
  EXPECT_EQ(c.GoneSince(3), At(8, 5));
}

// Several cards: one row of each per slot, a slot not yet taken shown as a card not there, the
// page names each card and a send counts the cards that played it.
TEST(Status, EverySlotIsShownAndMeasured) {
  StatusFacts f = SampleFacts();
  f.cards.push_back({2, true, "GATE-2", "a\\b\"c\nd", "127.0.0.2", false, At(8, 10), At(8, 11),
                     StatusCard::Played{At(7, 0), {"2024-03-05 08:00"}, false}});
  StatusCard empty;
  empty.slot = 3;
  f.cards.push_back(empty);
  f.lastDelivery->cards = 2;
  f.lastDelivery->played = 1;
  const std::string metrics = MetricsText(f);
  for (const char* line :
       {"aqled_card_connected{card=\"1\"} 1", "aqled_card_connected{card=\"2\"} 0",
        "aqled_card_connected{card=\"3\"} 0", "aqled_card_last_message_age_seconds{card=\"2\"} 1200",
        "aqled_card_info{card=\"2\",tag=\"GATE-2\",name=\"a\\\\b\\\"c\\nd\"} 1"})
    EXPECT_NE(metrics.find("\n" + std::string(line) + "\n"), std::string::npos) << line << "\n" << metrics;
  // What each screen shows: card 1 the 08:00 send with station 2's readings of 07:00 (stale at
  // 08:30), card 2 the 07:00 send with readings of 08:00; card 3 nothing.
  const std::string at = std::to_string(At(7, 0).toSecsSinceEpoch());
  const std::string at8 = std::to_string(At(8, 0).toSecsSinceEpoch());
  for (const std::string& line : {"aqled_card_last_successful_delivery_timestamp_seconds{card=\"1\"} " + at8,
                                  "aqled_card_last_successful_delivery_timestamp_seconds{card=\"2\"} " + at,
                                  "aqled_card_on_air_oldest_publish_timestamp_seconds{card=\"1\"} " + at,
                                  "aqled_card_on_air_oldest_publish_timestamp_seconds{card=\"2\"} " + at8})
    EXPECT_NE(metrics.find("\n" + line + "\n"), std::string::npos) << line << "\n" << metrics;
  EXPECT_EQ(metrics.find("card=\"3\"} 1"), std::string::npos) << "no message nor tag from an empty slot";
  EXPECT_EQ(metrics.find("seconds{card=\"3\"}"), std::string::npos) << "nothing played on an empty slot";
  const nlohmann::json j = nlohmann::json::parse(StatusJson(f));
  EXPECT_EQ(j["cards"].size(), 3u);
  EXPECT_EQ(j["card"], j["cards"][0]);
  EXPECT_EQ(j["cards"][1]["gone_since"], IsoTimeOf(At(8, 11)));
  EXPECT_EQ(j["cards"][2]["known"], false);
  EXPECT_EQ(j["cards"][0]["on_air"]["fresh"], false);
  EXPECT_EQ(j["cards"][1]["on_air"]["fresh"], true);
  EXPECT_EQ(j["cards"][1]["on_air"]["publish_times"][0], "2024-03-05 08:00");
  EXPECT_TRUE(j["cards"][2]["on_air"].is_null());
  EXPECT_EQ(j["last_delivery"]["played"], 1);
  const std::string page = StatusPageHtml(f);
  for (const char* part : {"<h3>控制卡 2</h3>", "id=\"card-2-tag\">GATE-2<",
                           "<h3>控制卡 3</h3><p class=\"bad\">未登录</p>", "(1/2 张控制卡已播放)",
                           "id=\"card-1-on-air\">2024-03-05 08:00:00 发送, <span class=\"bad\">数据已过期",
                           "id=\"card-2-on-air\">2024-03-05 07:00:00 发送, <span class=\"ok\">数据有效"})
    EXPECT_NE(page.find(part), std::string::npos) << part;
  // Before any card logged in the one slot is measured as not there, which the alert sees.
  f.cards.clear();
  EXPECT_NE(MetricsText(f).find("\naqled_card_connected{card=\"1\"} 0\n"), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(StatusJson(f))["card"]["known"], false);
}

TEST(Status, AnAnswerIsBuiltAgainOnlyOnceItIsKeptLongEnough) {
  StatusAnswers answers;
  int collected = 0;
  const auto collect = [&] {
    ++collected;
    return SampleFacts();
  };
  const struct {
    StatusAddress address;
    std::int64_t nowMs;
    int collected;
  } steps[] = {{StatusAddress::kMetrics, 0, 1},
               {StatusAddress::kMetrics, kStatusAnswerKeepMs - 1, 1},
               {StatusAddress::kJson, kStatusAnswerKeepMs - 1, 2},
               {StatusAddress::kMetrics, kStatusAnswerKeepMs, 3}};
  for (const auto& step : steps) {
    const std::string& answer = answers.Answer(step.address, step.nowMs, collect);
    EXPECT_EQ(collected, step.collected) << step.nowMs;
    EXPECT_EQ(answer,
              step.address == StatusAddress::kJson ? StatusJson(SampleFacts()) : MetricsText(SampleFacts()));
  }
}

// Runs promtool with `args` (and `input` on its standard input); its output when it fails.
std::optional<std::string> PromtoolFails(const QStringList& args, const std::string& input = {}) {
  QProcess promtool;
  promtool.setProcessChannelMode(QProcess::MergedChannels);
  promtool.start("promtool", args);
  if (!promtool.waitForStarted(10000)) return "promtool did not start";
  promtool.write(input.data(), static_cast<qint64>(input.size()));
  promtool.closeWriteChannel();
  if (!promtool.waitForFinished(60000)) return "promtool did not end";
  if (promtool.exitStatus() == QProcess::NormalExit && promtool.exitCode() == 0) return std::nullopt;
  return promtool.readAll().toStdString();
}

TEST(Status, PromtoolTakesTheMetricsAndTheRules) {
  if (!QFile::exists("/usr/bin/promtool")) GTEST_SKIP() << "promtool is not installed";
  EXPECT_EQ(PromtoolFails({"check", "metrics"}, MetricsText(SampleFacts())), std::nullopt);
  EXPECT_EQ(PromtoolFails({"check", "rules", AQLED_SOURCE_DIR "/packaging/aqled.rules.yml"}), std::nullopt);
  EXPECT_EQ(PromtoolFails({"test", "rules", AQLED_SOURCE_DIR "/tests/status/aqled.rules_test.yml"}),
            std::nullopt);
}

}  // namespace
}  // namespace aqled
