#pragma once
// What the program shows of itself from afar: one HTML page for people, the same facts as JSON
// and in the Prometheus text format for machines. Plain functions over plain data: the window
// gathers the facts it holds, these build the answers. Texts in the facts are GBK; every
// answer is UTF-8. Every text that came from a card, a station page or the log is escaped, and
// every answer stays within kStatusMaxAnswerBytes.

#include <QDateTime>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/operation_log.h"
#include "stations/catalogue.h"
#include "stations/readings.h"
#include "stations/update.h"

namespace aqled {

// How the last delivery stands (the answers name the states by their order here).
enum class DeliveryState { kRunning, kDelivering, kSucceeded, kFailed, kStalled };

// The outcomes a delivery is counted under, in this order: "succeeded", "failed", "stalled".
enum class DeliveryResult { kSucceeded, kFailed, kStalled };

// Counts kept since start-up for the metrics, and when each card was last seen to go.
class StatusCounters {
 public:
  void CountDelivery(DeliveryResult result);
  // Counts the outcome of station 1 to 4; kNone and other stations are not counted.
  void CountFetch(int station, FetchOutcome outcome);
  std::uint64_t Deliveries(DeliveryResult result) const;
  std::uint64_t Fetches(int station, FetchOutcome outcome) const;

  // The connection of the card in slot `slot` (1 to kStatusMaxCards; others are not noted) as
  // seen at `now`: the moment it is first seen gone is kept until it is seen connected again.
  void NoteCard(int slot, bool connected, const QDateTime& now);
  // When that card was first seen gone; null while it is connected (or was never seen).
  QDateTime GoneSince(int slot) const;

 private:
  struct Presence {
    QDateTime goneSince;
    bool seenConnected = false;
  };
  std::array<std::uint64_t, 3> deliveries_{};
  std::array<std::array<std::uint64_t, 5>, kStationCount + 1> fetches_{};
  std::vector<Presence> cards_;  // by slot - 1
};

// One slot of the session table.
struct StatusCard {
  int slot = 1;
  bool known = false;  // a card has logged in to the slot since start-up
  std::string tag;     // barcode
  std::string name;    // controller name
  std::string address;
  bool connected = false;
  QDateTime lastMessage;  // null: none yet
  QDateTime goneSince;    // null: connected, or not known when it went
  // What the card last played since start-up (its screen shows it still); none: nothing yet.
  struct Played {
    QDateTime since;                        // start of the send that delivered it
    std::vector<std::string> publishTimes;  // of its station pages
    bool notice = false;                    // only the notice page
  };
  std::optional<Played> played;
};

// A station page of the program on air, with the readings it was drawn from.
struct OnAirStation {
  int station = 0;
  Dtstr readings;
  std::string publishTime;
};

struct StatusOnAir {
  QDateTime since;  // start of the send that put it on air
  bool notice = false;
  // The pictures in play order: the address path each is published under, and the name of the
  // file it was made from.
  struct Picture {
    std::string url;
    std::string source;
  };
  std::vector<Picture> pictures;
  std::vector<OnAirStation> stations;
};

struct StatusDelivery {
  QDateTime started;
  bool automatic = false;
  DeliveryState state = DeliveryState::kRunning;
  bool notice = false;
  std::string reason;  // the last error line while it ran; empty: none
  int cards = 0;       // cards it was delivered to
  int played = 0;      // of them, those that have played it
};

// The last fetch of one station, with the readings the program holds for it.
struct StationFetchFacts {
  FetchOutcome outcome = FetchOutcome::kNone;
  Dtstr readings;
  std::string publishTime;
};

// Facts of the process itself.
struct ProcessFacts {
  std::int64_t residentBytes = 0;
  std::int64_t openDescriptors = 0;
  std::int64_t startTimeSeconds = 0;  // since the epoch
};

// Reads the resident memory, the open descriptors and the start time of this process (Linux
// /proc); a fact that cannot be read is 0.
ProcessFacts ReadProcessFacts();

// Everything the status answers show.
struct StatusFacts {
  QDateTime now;
  QDateTime started;  // when the program started
  std::string version;
  std::vector<StatusCard> cards;  // every slot the table holds, in order (at most kStatusMaxCards)
  std::optional<StatusOnAir> onAir;
  int maxDataAgeHours = 0;  // 0 or less: readings never go stale
  std::optional<StatusDelivery> lastDelivery;
  bool autoSend = true;
  QDateTime nextSlot;
  int slotHours = 2;
  QDateTime lastFetchAt;                                       // null: no fetch yet
  std::array<StationFetchFacts, kStationCount + 1> fetches{};  // by station number
  std::vector<ScreenLine> log;                                 // oldest first
  StatusCounters counters;
  ProcessFacts process;
};

// The three addresses (kStatusContentTypes in this order).
enum class StatusAddress { kPage, kJson, kMetrics };
// Which address a request path names: "/status" and "/" the page, "/status.json", "/metrics";
// nothing for any other path.
std::optional<StatusAddress> StatusAddressOf(std::string_view path);

// The text with "&", "<", ">", '"' and "'" written as character references, so that it is shown
// as text in an element or an attribute value and never read as markup.
std::string HtmlEscape(std::string_view text);

// The status page (UTF-8 HTML, Chinese), reloading itself every kStatusRefreshSeconds.
std::string StatusPageHtml(const StatusFacts& facts);
// The facts as one JSON object (UTF-8); the shape is the one docs/monitoring.md describes.
std::string StatusJson(const StatusFacts& facts);
// The facts in the Prometheus text format (version 0.0.4).
std::string MetricsText(const StatusFacts& facts);

// The answers to the three addresses, each built at most once per kStatusAnswerKeepMs.
class StatusAnswers {
 public:
  // The answer to `address` at `nowMs` (a clock that never goes back): the kept one while it is
  // younger than kStatusAnswerKeepMs, else the facts from `collect` built into a new one.
  const std::string& Answer(StatusAddress address, std::int64_t nowMs,
                            const std::function<StatusFacts()>& collect);

 private:
  struct Kept {
    std::optional<std::int64_t> madeMs;
    std::string body;
  };
  std::array<Kept, 3> kept_;
};

// The content types of the three answers.
inline constexpr std::array<const char*, 3> kStatusContentTypes = {
    "text/html; charset=utf-8", "application/json", "text/plain; version=0.0.4; charset=utf-8"};

}  // namespace aqled
