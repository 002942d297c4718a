#include "status/status_page.h"

#include <dirent.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "compose/picture_list.h"
#include "logging/limits.h"
#include "stations/extract.h"
#include "status/limits.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

constexpr std::array<DeliveryResult, 3> kDeliveryResults = {
    DeliveryResult::kSucceeded, DeliveryResult::kFailed, DeliveryResult::kStalled};
constexpr std::array<FetchOutcome, 4> kFetchOutcomes = {FetchOutcome::kOk, FetchOutcome::kFailed,
                                                        FetchOutcome::kNoReadings, FetchOutcome::kOverlong};

// The label in the answers for machines and the text on the page, by the enumerator's value.
struct Names {
  const char* label;
  const char* text;
};
constexpr std::array<const char*, 3> kResultLabels = {"succeeded", "failed", "stalled"};
constexpr std::array<Names, 5> kOutcomeNames = {{{"none", "未获取"},
                                                 {"ok", "成功"},
                                                 {"failed", "失败"},
                                                 {"no_readings", "页面中没有数据"},
                                                 {"overlong", "页面中的数据过长"}}};
constexpr std::array<Names, 5> kStateNames = {{{"running", "进行中"},
                                               {"delivering", "等待应答"},
                                               {"succeeded", "成功"},
                                               {"failed", "失败"},
                                               {"stalled", "超时"}}};

const char* ResultLabel(DeliveryResult r) { return kResultLabels.at(static_cast<std::size_t>(r)); }
const char* OutcomeLabel(FetchOutcome o) { return kOutcomeNames.at(static_cast<std::size_t>(o)).label; }
const char* OutcomeText(FetchOutcome o) { return kOutcomeNames.at(static_cast<std::size_t>(o)).text; }
const char* StateLabel(DeliveryState s) { return kStateNames.at(static_cast<std::size_t>(s)).label; }
const char* StateText(DeliveryState s) { return kStateNames.at(static_cast<std::size_t>(s)).text; }

// A text from outside, bounded and in UTF-8.
std::string Outside(std::string_view gbk, std::size_t maxBytes = kStatusTextBytes) {
  return GbkToUtf8(CutGbkText(gbk, maxBytes));
}

// The same, escaped for HTML.
std::string Html(std::string_view gbk, std::size_t maxBytes = kStatusTextBytes) {
  return HtmlEscape(Outside(gbk, maxBytes));
}

std::string Stamp(const QDateTime& t) {
  return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString() : "-";
}

// ISO 8601 with the local offset; null for a null time.
nlohmann::json IsoTime(const QDateTime& t) {
  if (!t.isValid()) return nullptr;
  return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate).toStdString();
}

std::string Duration(qint64 seconds) {
  seconds = std::max<qint64>(0, seconds);
  const qint64 days = seconds / 86400, hours = seconds / 3600 % 24, minutes = seconds / 60 % 60;
  std::string out;
  if (days > 0) out += std::to_string(days) + "天";
  if (days > 0 || hours > 0) out += std::to_string(hours) + "小时";
  return out + std::to_string(minutes) + "分" + std::to_string(seconds % 60) + "秒";
}

std::string HexColour(const Rgb& c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r & 0xff, c.g & 0xff, c.b & 0xff);
  return text;
}

bool Fresh(const std::string& publishTime, const StatusFacts& f) {
  return FreshnessOf(publishTime, f.now, f.maxDataAgeHours) == Freshness::kFresh;
}

bool AllFresh(const std::vector<std::string>& publishTimes, const StatusFacts& f) {
  return std::all_of(publishTimes.begin(), publishTimes.end(),
                     [&](const std::string& published) { return Fresh(published, f); });
}

// The page's style: readable on a phone, the log on black as in the window.
constexpr std::string_view kStyle =
    "body{font-family:sans-serif;margin:0 auto;max-width:960px;padding:8px;background:#f4f4f4;color:#222}"
    "h1{font-size:1.3em}h2{font-size:1.1em;margin:1em 0 .3em}"
    "section{background:#fff;padding:8px;margin-bottom:8px;border-radius:4px}"
    "table{border-collapse:collapse;width:100%}td,th{border:1px solid #ccc;padding:3px 5px;text-align:left}"
    ".ok{color:#080}.bad{color:#c00;font-weight:bold}"
    ".pictures{display:flex;flex-wrap:wrap;gap:8px}figure{margin:0;flex:1 1 40%;max-width:480px}"
    "figure img{width:100%;image-rendering:pixelated;background:#000}"
    "figcaption{font-size:.85em}"
    ".log{background:#000;font-family:monospace;font-size:.8em;padding:4px;overflow-x:auto}"
    ".log div{white-space:pre-wrap;word-break:break-all}";

// The cards shown: every slot, at most kStatusMaxCards; one slot not yet taken when there are none.
std::vector<StatusCard> ShownCards(const StatusFacts& f) {
  const std::size_t shown = std::min(f.cards.size(), static_cast<std::size_t>(kStatusMaxCards));
  std::vector<StatusCard> cards(f.cards.begin(), f.cards.begin() + static_cast<std::ptrdiff_t>(shown));
  if (cards.empty()) cards.emplace_back();
  return cards;
}

// One card, its elements named "card-<slot>-tag" and "card-<slot>-name".
void CardTable(std::string& out, const StatusCard& c, const StatusFacts& f) {
  if (!c.known) {
    out += "<p class=\"bad\">未登录</p>";
    return;
  }
  const std::string id = "card-" + std::to_string(c.slot);
  out += "<table><tr><th>标签</th><td id=\"" + id + "-tag\">" + Html(c.tag) + "</td></tr>";
  out += "<tr><th>名称</th><td id=\"" + id + "-name\">" + Html(c.name) + "</td></tr>";
  out += "<tr><th>地址</th><td>" + Html(c.address) + "</td></tr><tr><th>状态</th><td>";
  if (c.connected) {
    out += "<span class=\"ok\">已连接</span>";
  } else {
    out += "<span class=\"bad\">已断开</span>";
    if (c.goneSince.isValid()) out += " 自 " + Stamp(c.goneSince);
  }
  out += "</td></tr><tr><th>最后消息</th><td>";
  out += c.lastMessage.isValid() ? std::to_string(std::max<qint64>(0, c.lastMessage.secsTo(f.now))) + " 秒前"
                                 : std::string("无");
  out += "</td></tr><tr><th>屏幕显示</th><td id=\"" + id + "-on-air\">";
  if (!c.played) {
    out += "<span class=\"bad\">启动后尚未播放</span>";
  } else {
    out += Stamp(c.played->since) + " 发送" + (c.played->notice ? " (提示页)" : "");
    if (!c.played->publishTimes.empty()) {
      out += AllFresh(c.played->publishTimes, f) ? ", <span class=\"ok\">数据有效</span>"
                                                 : ", <span class=\"bad\">数据已过期</span>";
    }
  }
  out += "</td></tr></table>";
}

void CardSection(std::string& out, const StatusFacts& f) {
  const std::vector<StatusCard> cards = ShownCards(f);
  out += "<section id=\"card\"><h2>控制卡</h2>";
  for (const StatusCard& c : cards) {
    if (cards.size() > 1) out += "<h3>控制卡 " + std::to_string(c.slot) + "</h3>";
    CardTable(out, c, f);
  }
  out += "</section>";
}

void ReadingCells(std::string& out, const Dtstr& r) {
  for (const std::string* value : {&r.level, &r.negativeIons, &r.pm25, &r.ozone})
    out += "<td>" + Html(*value) + "</td>";
}

constexpr std::string_view kReadingHeads =
    "<th>等级</th><th>负氧离子</th><th>PM2.5</th><th>臭氧</th><th>发布时间</th>";

void OnAirSection(std::string& out, const StatusFacts& f) {
  out += "<section id=\"on-air\"><h2>正在播放</h2>";
  if (!f.onAir) {
    out += "<p>尚无成功的发送</p></section>";
    return;
  }
  const StatusOnAir& a = *f.onAir;
  out += "<p>" + Stamp(a.since) + " 发送" + (a.notice ? ", 提示页 (没有可显示的数据)" : "") + "</p>";
  out += "<div class=\"pictures\">";
  const std::size_t shown = std::min(a.pictures.size(), kStatusMaxPictures);
  for (std::size_t i = 0; i < shown; ++i) {
    const std::string source = Html(a.pictures[i].source);
    out += "<figure><img class=\"on-air\" src=\"" + Html(a.pictures[i].url) + "\" alt=\"" + source +
           "\"><figcaption>" + std::to_string(i + 1) + ". " + source + "</figcaption></figure>";
  }
  out += "</div>";
  if (!a.stations.empty()) {
    out +=
        "<table id=\"on-air-stations\"><tr><th>站点</th>" + std::string(kReadingHeads) + "<th>状态</th></tr>";
    for (const OnAirStation& s : a.stations) {
      out += "<tr><td>" + Html(StationName(s.station)) + "</td>";
      ReadingCells(out, s.readings);
      out += "<td>" + Html(s.publishTime) + "</td>";
      out += Fresh(s.publishTime, f)
                 ? "<td class=\"ok\">有效</td>"
                 : "<td class=\"bad\">已过期 (超过 " + std::to_string(f.maxDataAgeHours) + " 小时)</td>";
      out += "</tr>";
    }
    out += "</table>";
  }
  out += "</section>";
}

void DeliverySection(std::string& out, const StatusFacts& f) {
  out += "<section id=\"delivery\"><h2>发送</h2><table><tr><th>上次发送</th><td>";
  if (!f.lastDelivery) {
    out += "无";
  } else {
    const StatusDelivery& d = *f.lastDelivery;
    const bool bad = d.state == DeliveryState::kFailed || d.state == DeliveryState::kStalled;
    out += Stamp(d.started) + " " + (d.automatic ? "自动" : "手动") + " <span class=\"" +
           (bad ? "bad" : "ok") + "\">" + StateText(d.state) + "</span>";
    if (d.notice && d.state == DeliveryState::kSucceeded) out += " (提示页)";
    if (d.cards > 1)
      out += " (" + std::to_string(d.played) + "/" + std::to_string(d.cards) + " 张控制卡已播放)";
    if (!d.reason.empty()) out += "<br>" + Html(d.reason, kStatusLogLineBytes);
  }
  out += "</td></tr><tr><th>定时发送</th><td>";
  out += f.autoSend ? "下一时段 " + Stamp(f.nextSlot) + " (每 " + std::to_string(f.slotHours) + " 小时)"
                    : std::string("定时发送关闭");
  out += "</td></tr></table></section>";
}

void FetchSection(std::string& out, const StatusFacts& f) {
  out += "<section id=\"fetch\"><h2>数据获取</h2>";
  if (!f.lastFetchAt.isValid()) {
    out += "<p>尚未获取</p></section>";
    return;
  }
  out += "<p>" + Stamp(f.lastFetchAt) + "</p><table><tr><th>站点</th><th>结果</th>" +
         std::string(kReadingHeads) + "</tr>";
  for (int n = 1; n <= kStationCount; ++n) {
    const StationFetchFacts& s = f.fetches[static_cast<std::size_t>(n)];
    const bool ok = s.outcome == FetchOutcome::kOk;
    out += "<tr><td>" + Html(StationName(n)) + "</td><td class=\"" + (ok ? "ok" : "bad") + "\">" +
           OutcomeText(s.outcome) + "</td>";
    ReadingCells(out, s.readings);
    out += "<td>" + Html(s.publishTime) + "</td></tr>";
  }
  out += "</table></section>";
}

void LogSection(std::string& out, const StatusFacts& f) {
  out += "<section><h2>日志</h2><div class=\"log\" id=\"log\">";
  const std::size_t first = f.log.size() > static_cast<std::size_t>(kRecentScreenLines)
                                ? f.log.size() - static_cast<std::size_t>(kRecentScreenLines)
                                : 0;
  for (std::size_t i = first; i < f.log.size(); ++i) {
    out += "<div style=\"color:" + HexColour(f.log[i].colour) + "\">" +
           Html(f.log[i].gbkText, kStatusLogLineBytes) + "</div>";
  }
  out += "</div></section>";
}

// One metric family: its help, its type and its samples ("name{labels} value").
void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help,
            const std::vector<std::pair<std::string, std::string>>& samples) {
  out += "# HELP " + std::string(name) + " " + std::string(help) + "\n";
  out += "# TYPE " + std::string(name) + " " + std::string(type) + "\n";
  for (const auto& [labels, value] : samples) out += std::string(name) + labels + " " + value + "\n";
}

// A text from outside as the value of a label: bounded, "\\", '"' and line ends escaped.
std::string LabelValue(std::string_view gbk) {
  std::string out;
  for (char c : Outside(gbk)) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

// The labels of a card's samples: its slot, then `more` (",name=\"value\"" pairs).
std::string CardLabel(const StatusCard& c, const std::string& more = {}) {
  return "{card=\"" + std::to_string(c.slot) + "\"" + more + "}";
}

void Gauge(std::string& out, std::string_view name, std::string_view help, long long value) {
  Family(out, name, "gauge", help, {{"", std::to_string(value)}});
}

// A publish time as seconds since the epoch; nothing when it is no date.
std::optional<qint64> PublishSeconds(const std::string& publishTime) {
  const std::optional<QDateTime> t = ParsePublishTime(publishTime);
  if (!t) return std::nullopt;
  return t->toSecsSinceEpoch();
}

// The oldest of the publish times that are dates.
std::optional<qint64> OldestPublish(const std::vector<std::string>& publishTimes) {
  std::optional<qint64> oldest;
  for (const std::string& t : publishTimes) {
    if (const std::optional<qint64> published = PublishSeconds(t))
      oldest = oldest ? std::min(*oldest, *published) : *published;
  }
  return oldest;
}

nlohmann::json ReadingsJson(const Dtstr& r, const std::string& publishTime) {
  return {{"level", Outside(r.level)},
          {"negative_ions", Outside(r.negativeIons)},
          {"pm25", Outside(r.pm25)},
          {"ozone", Outside(r.ozone)},
          {"publish_time", Outside(publishTime)}};
}

}  // namespace

void StatusCounters::CountDelivery(DeliveryResult result) { ++deliveries_[static_cast<std::size_t>(result)]; }

void StatusCounters::CountFetch(int station, FetchOutcome outcome) {
  if (station < 1 || station > kStationCount || outcome == FetchOutcome::kNone) return;
  ++fetches_[static_cast<std::size_t>(station)][static_cast<std::size_t>(outcome)];
}

std::uint64_t StatusCounters::Deliveries(DeliveryResult result) const {
  return deliveries_[static_cast<std::size_t>(result)];
}

std::uint64_t StatusCounters::Fetches(int station, FetchOutcome outcome) const {
  if (station < 1 || station > kStationCount) return 0;
  return fetches_[static_cast<std::size_t>(station)][static_cast<std::size_t>(outcome)];
}

void StatusCounters::NoteCard(int slot, bool connected, const QDateTime& now) {
  if (slot < 1 || slot > kStatusMaxCards) return;
  if (cards_.size() < static_cast<std::size_t>(slot)) cards_.resize(static_cast<std::size_t>(slot));
  Presence& p = cards_[static_cast<std::size_t>(slot - 1)];
  if (connected) {
    p.seenConnected = true;
    p.goneSince = QDateTime();
  } else if (p.seenConnected && !p.goneSince.isValid()) {
    p.goneSince = now;
  }
}

QDateTime StatusCounters::GoneSince(int slot) const {
  if (slot < 1 || static_cast<std::size_t>(slot) > cards_.size()) return {};
  return cards_[static_cast<std::size_t>(slot - 1)].goneSince;
}

ProcessFacts ReadProcessFacts() {
  ProcessFacts p;
  QFile statm(QStringLiteral("/proc/self/statm"));
  if (statm.open(QIODevice::ReadOnly)) {
    const QList<QByteArray> fields = statm.readAll().split(' ');
    if (fields.size() > 1) p.residentBytes = fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE);
  }
  if (DIR* fds = ::opendir("/proc/self/fd")) {
    while (const dirent* e = ::readdir(fds)) {
      if (e->d_name[0] != '.') ++p.openDescriptors;
    }
    ::closedir(fds);
    --p.openDescriptors;  // the one reading the folder
  }
  // The 22nd field of /proc/self/stat is the start in clock ticks after boot; the boot time is
  // in /proc/stat.
  QFile stat(QStringLiteral("/proc/self/stat"));
  QFile boot(QStringLiteral("/proc/stat"));
  if (stat.open(QIODevice::ReadOnly) && boot.open(QIODevice::ReadOnly)) {
    const QByteArray self = stat.readAll();
    const QList<QByteArray> fields = self.mid(self.lastIndexOf(')') + 2).split(' ');
    qint64 bootSeconds = 0;
    for (const QByteArray& line : boot.readAll().split('\n')) {
      if (line.startsWith("btime ")) bootSeconds = line.mid(6).trimmed().toLongLong();
    }
    if (fields.size() > 19 && bootSeconds > 0)
      p.startTimeSeconds = bootSeconds + fields[19].toLongLong() / ::sysconf(_SC_CLK_TCK);
  }
  return p;
}

std::optional<StatusAddress> StatusAddressOf(std::string_view path) {
  if (path == "/" || path == "/status") return StatusAddress::kPage;
  if (path == "/status.json") return StatusAddress::kJson;
  if (path == "/metrics") return StatusAddress::kMetrics;
  return std::nullopt;
}

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string StatusPageHtml(const StatusFacts& f) {
  std::string out =
      "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<meta http-equiv=\"refresh\" content=\"" +
      std::to_string(kStatusRefreshSeconds) + "\"><title>aqled 运行状态</title><style>" +
      std::string(kStyle) + "</style></head><body><h1>aqled 运行状态</h1><p>版本 " + HtmlEscape(f.version) +
      ", 已运行 " + Duration(f.started.secsTo(f.now)) + ", 更新于 " + Stamp(f.now) + "</p>";
  CardSection(out, f);
  OnAirSection(out, f);
  DeliverySection(out, f);
  FetchSection(out, f);
  LogSection(out, f);
  out += "</body></html>\n";
  return out;
}

std::string StatusJson(const StatusFacts& f) {
  using nlohmann::json;
  json j;
  j["version"] = f.version;
  j["now"] = IsoTime(f.now);
  j["started"] = IsoTime(f.started);
  j["uptime_seconds"] = std::max<qint64>(0, f.started.secsTo(f.now));
  json cards = json::array();
  for (const StatusCard& c : ShownCards(f)) {
    cards.push_back({{"slot", c.slot},
                     {"known", c.known},
                     {"tag", Outside(c.tag)},
                     {"name", Outside(c.name)},
                     {"address", Outside(c.address)},
                     {"connected", c.connected},
                     {"last_message", IsoTime(c.lastMessage)},
                     {"gone_since", IsoTime(c.goneSince)},
                     {"on_air", nullptr}});
    if (c.played) {
      json published = json::array();
      for (const std::string& t : c.played->publishTimes) published.push_back(Outside(t));
      cards.back()["on_air"] = {{"since", IsoTime(c.played->since)},
                                {"notice", c.played->notice},
                                {"publish_times", published},
                                {"fresh", AllFresh(c.played->publishTimes, f)}};
    }
  }
  j["card"] = cards.front();  // slot 1, as before there were several
  j["cards"] = cards;
  j["on_air"] = nullptr;
  if (f.onAir) {
    json pictures = json::array();
    for (std::size_t i = 0; i < std::min(f.onAir->pictures.size(), kStatusMaxPictures); ++i)
      pictures.push_back(
          {{"url", Outside(f.onAir->pictures[i].url)}, {"source", Outside(f.onAir->pictures[i].source)}});
    json stations = json::array();
    for (const OnAirStation& s : f.onAir->stations) {
      json one = ReadingsJson(s.readings, s.publishTime);
      one["station"] = s.station;
      one["name"] = Outside(StationName(s.station));
      one["fresh"] = Fresh(s.publishTime, f);
      stations.push_back(one);
    }
    j["on_air"] = {{"since", IsoTime(f.onAir->since)},
                   {"notice", f.onAir->notice},
                   {"pictures", pictures},
                   {"stations", stations}};
  }
  j["max_data_age_hours"] = f.maxDataAgeHours;
  j["last_delivery"] = nullptr;
  if (f.lastDelivery) {
    const StatusDelivery& d = *f.lastDelivery;
    j["last_delivery"] = {{"started", IsoTime(d.started)},
                          {"automatic", d.automatic},
                          {"state", StateLabel(d.state)},
                          {"notice", d.notice},
                          {"reason", Outside(d.reason, kStatusLogLineBytes)},
                          {"cards", d.cards},
                          {"played", d.played}};
  }
  j["timed_delivery"] = {
      {"enabled", f.autoSend}, {"next_slot", IsoTime(f.nextSlot)}, {"slot_hours", f.slotHours}};
  json fetches = json::array();
  for (int n = 1; n <= kStationCount; ++n) {
    const StationFetchFacts& s = f.fetches[static_cast<std::size_t>(n)];
    json one = ReadingsJson(s.readings, s.publishTime);
    one["station"] = n;
    one["name"] = Outside(StationName(n));
    one["outcome"] = OutcomeLabel(s.outcome);
    fetches.push_back(one);
  }
  j["last_fetch"] = {{"at", IsoTime(f.lastFetchAt)}, {"stations", fetches}};
  json log = json::array();
  const std::size_t first = f.log.size() > static_cast<std::size_t>(kRecentScreenLines)
                                ? f.log.size() - static_cast<std::size_t>(kRecentScreenLines)
                                : 0;
  for (std::size_t i = first; i < f.log.size(); ++i)
    log.push_back(
        {{"text", Outside(f.log[i].gbkText, kStatusLogLineBytes)}, {"colour", HexColour(f.log[i].colour)}});
  j["log"] = log;
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string MetricsText(const StatusFacts& f) {
  std::string out;
  Family(out, "aqled_build_info", "gauge", "The running version of aqled; always 1.",
         {{"{version=\"" + f.version + "\"}", "1"}});
  const std::vector<StatusCard> cards = ShownCards(f);
  std::vector<std::pair<std::string, std::string>> samples;
  for (const StatusCard& c : cards) samples.emplace_back(CardLabel(c), c.connected ? "1" : "0");
  Family(out, "aqled_card_connected", "gauge",
         "Whether the controller card of the slot is connected (1) or not (0).", samples);
  samples.clear();
  for (const StatusCard& c : cards) {
    if (c.lastMessage.isValid())
      samples.emplace_back(CardLabel(c), std::to_string(std::max<qint64>(0, c.lastMessage.secsTo(f.now))));
  }
  if (!samples.empty())
    Family(out, "aqled_card_last_message_age_seconds", "gauge",
           "Seconds since the last message of the slot's card.", samples);
  samples.clear();
  for (const StatusCard& c : cards) {
    if (c.known)
      samples.emplace_back(
          CardLabel(c, ",tag=\"" + LabelValue(c.tag) + "\",name=\"" + LabelValue(c.name) + "\""), "1");
  }
  if (!samples.empty())
    Family(out, "aqled_card_info", "gauge", "The tag and name of the card logged in to the slot; always 1.",
           samples);
  samples.clear();
  std::vector<std::pair<std::string, std::string>> oldestOfCards;
  for (const StatusCard& c : cards) {
    if (!c.played) continue;
    samples.emplace_back(CardLabel(c), std::to_string(c.played->since.toSecsSinceEpoch()));
    if (const std::optional<qint64> oldest = OldestPublish(c.played->publishTimes))
      oldestOfCards.emplace_back(CardLabel(c), std::to_string(*oldest));
  }
  if (!samples.empty())
    Family(out, "aqled_card_last_successful_delivery_timestamp_seconds", "gauge",
           "Start of the send whose program the slot's card played last, in seconds since the epoch.",
           samples);
  if (!oldestOfCards.empty())
    Family(out, "aqled_card_on_air_oldest_publish_timestamp_seconds", "gauge",
           "The oldest publish time of the readings on the slot's screen, in seconds since the epoch.",
           oldestOfCards);
  samples.clear();
  for (DeliveryResult r : kDeliveryResults)
    samples.emplace_back(std::string("{outcome=\"") + ResultLabel(r) + "\"}",
                         std::to_string(f.counters.Deliveries(r)));
  Family(out, "aqled_deliveries_total", "counter", "Deliveries since start-up, by outcome.", samples);
  if (f.onAir)
    Gauge(out, "aqled_last_successful_delivery_timestamp_seconds",
          "Start of the send whose delivery last succeeded, in seconds since the epoch.",
          f.onAir->since.toSecsSinceEpoch());
  samples.clear();
  for (int n = 1; n <= kStationCount; ++n) {
    for (FetchOutcome o : kFetchOutcomes)
      samples.emplace_back("{station=\"" + std::to_string(n) + "\",outcome=\"" + OutcomeLabel(o) + "\"}",
                           std::to_string(f.counters.Fetches(n, o)));
  }
  Family(out, "aqled_fetches_total", "counter",
         "Fetches of the station pages since start-up, by station and outcome.", samples);
  samples.clear();
  std::optional<qint64> oldest;
  if (f.onAir) {
    for (const OnAirStation& s : f.onAir->stations) {
      const std::optional<qint64> published = PublishSeconds(s.publishTime);
      if (!published) continue;
      samples.emplace_back("{station=\"" + std::to_string(s.station) + "\"}", std::to_string(*published));
      oldest = oldest ? std::min(*oldest, *published) : *published;
    }
  }
  if (!samples.empty())
    Family(out, "aqled_on_air_publish_timestamp_seconds", "gauge",
           "Publish time of the readings of each station page on air, in seconds since the epoch.", samples);
  if (oldest)
    Gauge(out, "aqled_on_air_oldest_publish_timestamp_seconds",
          "The oldest publish time of the readings on air, in seconds since the epoch.", *oldest);
  Gauge(out, "aqled_max_data_age_seconds",
        "How old readings may be before they count as stale; 0: never stale.",
        std::max(0, f.maxDataAgeHours) * 3600LL);
  Gauge(out, "aqled_timed_delivery_enabled", "Whether timed delivery is on (1) or off (0).",
        f.autoSend ? 1 : 0);
  Gauge(out, "aqled_delivery_slot_seconds", "Length of one slot of the timed delivery.",
        f.slotHours * 3600LL);
  if (f.nextSlot.isValid())
    Gauge(out, "aqled_next_slot_timestamp_seconds", "Start of the next slot of the timed delivery.",
          f.nextSlot.toSecsSinceEpoch());
  Gauge(out, "process_resident_memory_bytes", "Resident memory size in bytes.", f.process.residentBytes);
  Gauge(out, "process_open_fds", "Number of open file descriptors.", f.process.openDescriptors);
  Gauge(out, "process_start_time_seconds", "Start time of the process since the epoch in seconds.",
        f.process.startTimeSeconds);
  return out;
}

const std::string& StatusAnswers::Answer(StatusAddress address, std::int64_t nowMs,
                                         const std::function<StatusFacts()>& collect) {
  Kept& kept = kept_.at(static_cast<std::size_t>(address));
  if (kept.madeMs && nowMs >= *kept.madeMs && nowMs - *kept.madeMs < kStatusAnswerKeepMs) return kept.body;
  const StatusFacts facts = collect();
  switch (address) {
    case StatusAddress::kPage:
      kept.body = StatusPageHtml(facts);
      break;
    case StatusAddress::kJson:
      kept.body = StatusJson(facts);
      break;
    case StatusAddress::kMetrics:
      kept.body = MetricsText(facts);
      break;
  }
  kept.madeMs = nowMs;
  return kept.body;
}

}  // namespace aqled
