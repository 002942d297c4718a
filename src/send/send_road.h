#pragma once
// The road of every send, manual or timed, and what it leaves behind: fetch the station pages,
// draw them, assemble the picture list, deliver it to every card it is for, and follow each
// card's delivery to its end; the timed delivery's part of each Timer1 tick; the last send, the last fetch
// and the program on air. No widget: the window reads its controls into SendControls when a handler runs and
// hears back through SendListener.

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSize>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "compose/picture_list.h"
#include "render/previews.h"
#include "render/station_pages.h"
#include "render/text_page.h"
#include "schedule/schedule.h"
#include "settings/program_settings.h"
#include "stations/catalogue.h"
#include "stations/readings.h"
#include "status/status_page.h"

namespace aqled {

class Clock;
class ControllerLink;
enum class DeliveryOutcome;
enum class DeliveryStart;
class HttpsClient;
class LogSink;
class StationUpdater;
struct TlsTrust;

// How a send stands, from its start to its delivery's end.
enum class SendState { kRunning, kDelivering, kSucceeded, kFailed, kStalled };

struct SendRecord {
  QDateTime started;
  bool automatic = false;
  SendState state = SendState::kRunning;
  bool notice = false;   // it put the notice page on air: no reading was fit to show
  std::string reason{};  // GBK: the last error line written while it ran; empty: none
  int cards = 0;         // cards it delivered to (the cards connected at its start)
  int played = 0;        // of them, those that have played it
};

struct FetchRecord {
  QDateTime at;
  int fetched = 0;  // stations fetched, of four
};

// What a delivery puts on the screen.
struct OnAirProgram {
  QDateTime started;                      // start of the send that delivered it
  std::string digest;                     // PictureListDigest of its pictures
  std::vector<std::string> publishTimes;  // of the station pages in it (GBK)
  bool notice = false;                    // only the notice page: no reading was fit to show
  std::vector<OnAirStation> stations;     // its station pages with the readings they show
  // Its pictures as staged in ShareFolder, in play order: the file's name there (with the
  // size's prefix when the send staged several sizes) and the picture list's entry it came from.
  struct StagedPicture {
    std::string name;
    std::string entry;
  };
  std::vector<StagedPicture> pictures;
};

// What one card last played: the program of one send, as drawn for its screen.
struct CardOnAir {
  QDateTime sendStarted;                  // start of the send that delivered it
  std::string digest;                     // PictureListDigest of its pictures
  std::vector<std::string> publishTimes;  // of its station pages (GBK)
  bool notice = false;                    // only the notice page
};

// What an area is drawn for: its log lines say so.
enum class AreaUse { kSend, kPreview };

// How the road of one send ended before the card's answers.
enum class SendRun {
  kDelivering,  // a delivery went out and is awaited
  kStopped,     // it ended before a delivery (no card, no area, an error)
  kUnchanged,   // what it would deliver is what is on air already: nothing was sent
};

// What the window's controls and font slots hold when a handler runs: everything a send, a
// tick or the text page preview reads of them. The readings and the area are the road's own.
struct SendControls {
  int dtw = 0;  // the display area; a 0 side takes the card's screen
  int dth = 0;
  int dtk = 0;                              // the period of the timed delivery (item index, -1: none)
  PictureChoice choice;                     // dt1check, ggcheck, gg2check
  StationPageInput stations;                // columns, captions and font slots of the station pages
  TextPageInput textPage;                   // Memo2, bm, hjj, its lines and the slot "time"
  SubtitleStrip subtitle;                   // drawn on the previews only
  ClockStrip clock;                         // drawn on the previews only
  std::vector<std::string> advertisements;  // the entries of ListBox1, GBK
};

// What the road tells the window. Every text is GBK.
class SendListener {
 public:
  virtual ~SendListener() = default;
  // The last send, the last fetch or the schedule changed: the status line wants a redraw.
  virtual void SendStatusChanged() = 0;
  // A send begins its fetch: the operator is shown the log.
  virtual void SendBegins() = 0;
  // A transient message for the status line.
  virtual void ShowStatusMessage(const std::string& text) = 0;
  // The window's general error report (a message box), and the operator's OK or Cancel.
  virtual void ReportError(const std::string& text) = 0;
  virtual bool Confirm(const std::string& text, const std::string& caption) = 0;
  // The preview of station 1 to 4 after its page was drawn.
  virtual void ShowStationPreview(int station, const QImage& preview) = 0;
};

class SendRoad : public QObject {
  Q_OBJECT

 public:
  // All borrowed and must outlive the road; `settings` is read at each send (it is filled at
  // start-up, after the road is made). `appFolder` is GBK, ending in its separator.
  SendRoad(ControllerLink& link, Clock& clock, LogSink& log, SendListener& listener,
           const ProgramSettings& settings, std::string appFolder);
  ~SendRoad() override;

  // Start-up: what the station fetch trusts of the site's certificate, and where it fetches.
  void SetTrust(const TlsTrust& trust);
  void SetStationUrls(StationUrlTable urls) { stationUrls_ = std::move(urls); }
  // Receives the head of the decoded text of each fetched page.
  void SetPageTextSink(std::function<void(const std::string& gbkText)> sink);

  // "发送C2": asks the operator to confirm the send, naming the cards it goes to (with one slot,
  // the card in slot 1), then runs it to every connected card.
  // Refused with a kind-1 line (also in the status line) while an earlier send is running.
  void ManualSend(const SendControls& controls);
  // The timed delivery's part of a Timer1 tick: ends each delivery past its limit, then starts
  // the timed send when its slot is due (see DeliverySchedule). A slot is complete when every
  // card connected at its send has played; a retry goes only to the connected cards that have
  // not played in the slot (failed, stalled, or not connected then).
  void OnTick(const SendControls& controls);
  // "效果预览": draws g.bmp at the area a send would take; its path (GBK), or nothing when no
  // area can be had (said in a kind-1 line and a message) or the file cannot be written
  // (reported).
  std::optional<std::string> DrawTextPreview(const SendControls& controls);
  // An error line went to the log: while a send runs or its delivery is awaited it is the
  // reason the status line gives for its failure.
  void NoteError(const std::string& text);
  // "立即执行" forgets the hour of the last send.
  void ClearLastSendHour() { lastSendHour_.clear(); }

  // The state, for reading (everything false, 0 or empty before the first send).
  // True from the confirmation of a send until its handler returns.
  bool Sending() const { return sending_; }
  // True while a send runs (from its confirmation) or a station fetch waits.
  bool Busy() const;
  const std::optional<SendRecord>& LastSend() const { return lastSend_; }
  const std::optional<FetchRecord>& LastFetch() const { return lastFetch_; }
  // What the last successful delivery put on air: with cards of several sizes, the program of
  // the size whose card played last.
  const std::optional<OnAirProgram>& OnAir() const { return onAir_; }
  // Deliveries by outcome and fetches by station and outcome since the start; the window adds
  // what it sees of the card.
  const StatusCounters& Counters() const { return counters_; }
  StatusCounters& Counters() { return counters_; }
  // True while the link watches a delivery of a send of this road.
  bool AwaitingCard() const { return deliveryOf_.has_value(); }
  // What the card with `barcode` last played since start-up; null: nothing yet.
  const CardOnAir* PlayedBy(const std::string& barcode) const;
  // True when the card with `barcode` has played a send started in the slot of `now`.
  bool CardServed(const std::string& barcode, const QDateTime& now, int dtk) const;
  const DeliverySchedule& Schedule() const { return schedule_; }
  const StationUrlTable& StationUrls() const { return stationUrls_; }
  const StationReadings& Readings() const { return readings_; }
  const StationPublishTimes& PublishTimes() const { return publishTimes_; }
  // How the last fetch of each station ended.
  const std::array<FetchOutcome, kStationCount + 1>& LastOutcomes() const;
  // The PictureList of the last assembled program.
  const std::string& PictureList() const { return pictureList_; }
  // "hh" of the last send or failed fetch.
  const std::string& LastSendHour() const { return lastSendHour_; }

 private:
  // An error that ends a send and goes to the general error report; what() is GBK.
  class Stop;

  std::string PictureFolder() const;
  // Logs the refusal of a send and shows it in the status line.
  void RefuseSend();
  // The road of every send, manual (after its confirmation) or timed: it counts for the slot
  // of its start; an error that ends it goes to the general error report (manual) or to a
  // kind-1 line (timed, nobody may be there to close a box).
  // What a send does for a card whose last played pictures are the ones it would send.
  enum class Repeat {
    kAlways,       // sends them again (a send by hand, a slot's first attempt)
    kNotThisSlot,  // not when the card played them in the send's slot (a retry in the slot)
    kNever,        // not at all (a refresh of a completed slot)
  };
  // It goes to the slots `targets`, `repeat` deciding for a card that shows its pictures already.
  void StartSend(const SendControls& controls, bool automatic, const std::vector<int>& targets,
                 Repeat repeat = Repeat::kAlways);
  // The slots a send goes to: slot 1 with one slot (whether or not a card is there); else the
  // connected cards, with `unservedFirst` only those that have not played in the slot of now
  // when there are such.
  std::vector<int> Targets(bool unservedFirst, int dtk) const;
  // Fetch, draw, assemble, deliver. A station whose fetch failed keeps its last readings and
  // their publish time, and the age rule decides whether its page goes on air; a list without
  // any picture becomes the notice page. Cards of one picture size share one drawing and one
  // staging. Errors that end it pass to StartSend.
  SendRun RunSend(const SendControls& controls, const QDateTime& started, const std::vector<int>& targets,
                  Repeat repeat);
  // Draws the notice page (Set/NoDataText) at `area` as notice.bmp; returns its path (GBK).
  std::string DrawNotice(const SendControls& controls, const QSize& area);
  // True when what is on air wants a fresh look at `now`: a page on it has passed its age or
  // lies too far ahead, or the send that made it failed a fetch or left a station out.
  bool RefreshWanted(const QDateTime& now) const;
  // Draws and writes the four station pages at `area` and shows them on the previews.
  void DrawStationPages(const SendControls& controls, const QSize& area);
  // Draws and writes g.bmp at `area`.
  void DrawTextPage(const SendControls& controls, const QSize& area);
  // The fetch of a send has ended with `fetched` of the four stations.
  void NoteFetch(int fetched);
  // The area a send or the text page preview draws at for the card in `slot`: dtw and dth, a 0
  // taking the card's screen (logged); nothing, with a kind-1 line, when no card can give it.
  // The preview also shows that line in a message box: someone pressed the button.
  std::optional<QSize> DrawingArea(const SendControls& controls, AreaUse use, int slot = 1);
  // That area without a line: dtw and dth, a 0 taking the screen of the card in `slot`; empty
  // when no card can give it.
  QSize AreaOf(const SendControls& controls, int slot) const;
  // The link's watched delivery to `slot` has ended.
  void OnDeliveryEnded(DeliveryOutcome outcome, int slot);
  // The send started at `started` has ended in `state`.
  void EndSend(const QDateTime& started, SendState state);
  // The send's state once every card's delivery has ended.
  SendState CardsState() const;

  ControllerLink& link_;
  Clock& clock_;
  LogSink& log_;
  SendListener& listener_;
  const ProgramSettings& settings_;
  std::string appFolder_;
  std::unique_ptr<HttpsClient> SslHttpCli1;
  std::unique_ptr<StationUpdater> stationUpdater_;
  StationUrlTable stationUrls_;
  StationReadings readings_;
  StationPublishTimes publishTimes_;  // the publish time text that came with each station's readings
  std::string pictureList_;
  std::string lastSendHour_;
  bool sending_ = false;
  DeliverySchedule schedule_;
  std::optional<SendRecord> lastSend_;
  std::optional<QDateTime> deliveryOf_;  // start of the send whose deliveries the link watches
  // The slots whose delivery of that send is awaited, each with the index of its size's program
  // in delivering_.
  std::map<int, std::size_t> awaited_;
  bool cardStalled_ = false;                 // a card of that send stalled
  bool cardFailed_ = false;                  // a card of that send failed
  int cardsPlayed_ = 0;                      // cards of that send that have played
  std::map<std::string, CardOnAir> played_;  // what each card (by barcode) last played
  std::optional<FetchRecord> lastFetch_;
  StatusCounters counters_;
  std::optional<OnAirProgram> onAir_;      // what the last successful delivery put on air
  std::vector<OnAirProgram> delivering_;   // what the awaited deliveries put on air, by size
  std::optional<std::size_t> playedSize_;  // of them, the one a card played last
  // The last send's fetch failed for a station or its list left one out: the next ticks look
  // at the site again.
  bool incomplete_ = false;
};

}  // namespace aqled
