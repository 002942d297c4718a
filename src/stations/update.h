#pragma once
// One run of the station cycle: fetch the four station pages in catalogue order, cut and log
// their readings, and tell whether every page was fetched (the window then draws the pictures).

#include <array>
#include <cstddef>
#include <functional>
#include <string>

#include "stations/catalogue.h"
#include "stations/https_client.h"
#include "stations/readings.h"

namespace aqled {

class LogSink;

// How the fetch of one station page ended (the status answers name them by this order).
enum class FetchOutcome {
  kNone,        // not fetched yet
  kOk,          // its readings were taken
  kFailed,      // the GET failed (or threw)
  kNoReadings,  // the page yielded no reading
  kOverlong,    // a text on the page was longer than a reading can be
};

// Runs UpdateStationPages on the window's one client and knows whether a run is in progress,
// so that the send button can refuse a second send during a fetch.
class StationUpdater {
 public:
  // Both are borrowed and must outlive the updater.
  StationUpdater(HttpsClient& client, LogSink& log) : client_(client), log_(log) {}

  // Receives the head of the decoded text of each fetched page (CutGbkText at
  // kMaxPageTextShown; the window's hidden work text box keeps the last one). Optional.
  void SetPageTextSink(std::function<void(const std::string& gbkText)> sink) {
    pageTextSink_ = std::move(sink);
  }

  // True from the start of UpdateStationPages until it returns (or throws).
  bool Running() const { return running_; }

  // For stations 1 to 4: GET urls[n], cut the page, store the readings in readings[n] and the
  // publish time text in publishTimes[n], and log "获取 <name> 等级 …" (kind 3). A failed GET
  // logs "获取 [<url>] 数据失败 错误代码: <message>" (kind 1; the message cut at
  // kMaxLoggedSiteText), and so does a page from which none of the four readings could be cut
  // (NoReadingsText) or one with a text longer than a reading can be (OverlongValueText); each
  // leaves readings[n] and publishTimes[n] unchanged. Returns true when all four succeeded. A call while a
  // run is in progress does nothing and returns false.
  bool UpdateStationPages(const StationUrlTable& urls, StationReadings& readings,
                          StationPublishTimes& publishTimes);

  // The number of stations the last finished run fetched (0 to 4).
  int LastFetched() const { return lastFetched_; }
  // How the last finished run ended for each station, indexed by station number (0 unused).
  const std::array<FetchOutcome, kStationCount + 1>& LastOutcomes() const { return lastOutcomes_; }

 private:
  HttpsClient& client_;
  LogSink& log_;
  std::function<void(const std::string&)> pageTextSink_;
  bool running_ = false;
  int lastFetched_ = 0;
  std::array<FetchOutcome, kStationCount + 1> lastOutcomes_{};
};

// The failure message of a page that yields no reading at all (GBK).
std::string NoReadingsText();

// The failure message of a page whose text `label` (GBK) has `bytes` bytes, more than the
// `maxBytes` a reading or a publish time can have.
std::string OverlongValueText(const std::string& label, std::size_t bytes, std::size_t maxBytes);

// The kind-3 line of a fetched station (all GBK).
std::string StationReadingsLine(const std::string& name, const Dtstr& values, const std::string& publishTime);

// The kind-1 line of a station whose GET failed.
std::string StationFailureLine(const std::string& url, const std::string& message);

}  // namespace aqled
