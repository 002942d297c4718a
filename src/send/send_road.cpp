#include "send/send_road.h"

#include <algorithm>
#include <array>
#include <stdexcept>

#include "link/controller_link.h"
#include "link/delivery.h"
#include "link/exchange.h"
#include "link/packaging.h"
#include "logging/operation_log.h"
#include "render/display_area.h"
#include "render/drawing.h"
#include "stations/https_client.h"
#include "stations/update.h"
#include "text/datetime.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

// The refusal of a send while one runs: a log line and the status line's message.
const std::string& SendRunningText() { return Gbk<"上一次发送尚未结束, 本次发送未执行.">(); }
// The notice page's file in PictureFolder.
constexpr const char* kNoticeFile = "notice.bmp";

const std::string& CardAreaPattern(AreaUse use) {
  const std::string& send = Gbk<"显示区域 %d x %d, 本次发送使用控制卡屏幕大小 %d x %d">();
  const std::string& preview = Gbk<"显示区域 %d x %d, 预览使用控制卡屏幕大小 %d x %d">();
  return use == AreaUse::kSend ? send : preview;
}
const std::string& NoAreaText(AreaUse use) {
  const std::string& send =
      Gbk<"显示区域的宽度或高度为0, 又没有已登录的控制卡提供屏幕大小, 本次发送未执行.">();
  const std::string& preview = Gbk<"显示区域的宽度或高度为0, 又没有已登录的控制卡提供屏幕大小, 无法预览.">();
  return use == AreaUse::kSend ? send : preview;
}

}  // namespace

class SendRoad::Stop : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

SendRoad::SendRoad(ControllerLink& link, Clock& clock, LogSink& log, SendListener& listener,
                   const ProgramSettings& settings, std::string appFolder)
    : link_(link),
      clock_(clock),
      log_(log),
      listener_(listener),
      settings_(settings),
      appFolder_(std::move(appFolder)),
      SslHttpCli1(std::make_unique<HttpsClient>()),
      stationUpdater_(std::make_unique<StationUpdater>(*SslHttpCli1, log)) {
  connect(&link_, &ControllerLink::DeliveryEnded, this, &SendRoad::OnDeliveryEnded);
}

SendRoad::~SendRoad() = default;

void SendRoad::SetTrust(const TlsTrust& trust) { SslHttpCli1->SetTrust(trust); }

void SendRoad::SetPageTextSink(std::function<void(const std::string& gbkText)> sink) {
  stationUpdater_->SetPageTextSink(std::move(sink));
}

std::string SendRoad::PictureFolder() const { return PictureFolderOf(appFolder_); }

bool SendRoad::Busy() const { return sending_ || stationUpdater_->Running(); }

void SendRoad::RefuseSend() {
  log_.AppendLog(kLogError, SendRunningText());
  listener_.ShowStatusMessage(SendRunningText());
}

void SendRoad::NoteError(const std::string& text) {
  // The status line names why the last send failed: the last error written while it ran.
  if (lastSend_ && (lastSend_->state == SendState::kRunning || lastSend_->state == SendState::kDelivering)) {
    lastSend_->reason = text;
  }
}

void SendRoad::ManualSend(const SendControls& controls) {
  // The fetch waits in a nested event loop, so this button can be clicked again meanwhile.
  if (Busy()) {
    RefuseSend();
    return;
  }
  // The box names the cards the send goes to; with one slot, the card in it, connected or not.
  std::string tags;
  for (int k : Targets(false, controls.dtk)) tags += (tags.empty() ? "" : ", ") + link_.Slot(k).barcode;
  if (!listener_.Confirm(Format(Gbk<"向 标签[ %s ]LED屏发送节目,继续请确认.">(), {tags}), Gbk<"提示信息">()))
    return;
  // A timed send may have begun while the box was open.
  if (Busy()) {
    RefuseSend();
    return;
  }
  // The cards connected now, not those when the box opened.
  StartSend(controls, false, Targets(false, controls.dtk));
}

std::vector<int> SendRoad::Targets(bool unservedFirst, int dtk) const {
  if (link_.MaxCards() == 1) return {1};
  const std::vector<int> connected = link_.ConnectedSlots();
  if (!unservedFirst) return connected;
  const QDateTime now = clock_.Now();
  std::vector<int> unserved;
  for (int k : connected) {
    if (!CardServed(link_.Slot(k).barcode, now, dtk)) unserved.push_back(k);
  }
  return unserved.empty() ? connected : unserved;
}

const CardOnAir* SendRoad::PlayedBy(const std::string& barcode) const {
  const auto it = played_.find(barcode);
  return it == played_.end() ? nullptr : &it->second;
}

bool SendRoad::CardServed(const std::string& barcode, const QDateTime& now, int dtk) const {
  const auto it = played_.find(barcode);
  return it != played_.end() && SlotStart(it->second.sendStarted, dtk) == SlotStart(now, dtk);
}

void SendRoad::StartSend(const SendControls& controls, bool automatic, const std::vector<int>& targets,
                         Repeat repeat) {
  const QDateTime started = clock_.Now();
  std::optional<std::string> error;
  SendRun run = SendRun::kStopped;
  const std::optional<SendRecord> before = lastSend_;
  {
    FlagScope running(sending_);
    schedule_.SendStarted(started);
    lastSend_ = SendRecord{started, automatic, SendState::kRunning};
    listener_.SendStatusChanged();
    try {
      run = RunSend(controls, started, targets, repeat);
    } catch (const Stop& e) {
      error = e.what();
    } catch (const std::exception& e) {
      error = Utf8ToGbkLenient(e.what());
    }
  }
  if (error && !deliveryOf_ && !awaited_.empty()) {
    // The cards of a size drawn before the failure have their delivery already: the send ends,
    // failed, once they have answered, so that what they play is known.
    cardFailed_ = true;
    deliveryOf_ = started;
    if (lastSend_ && lastSend_->started == started) lastSend_->state = SendState::kDelivering;
    run = SendRun::kDelivering;
  }
  if (run == SendRun::kUnchanged) {
    // Nothing went out: the program on air and the record of the send that put it there stand.
    schedule_.SendEnded(started, false);
    lastSend_ = before;
    listener_.SendStatusChanged();
  } else if (run == SendRun::kStopped) {
    EndSend(started, SendState::kFailed);
  }
  // Reported once the send is over, so that an open box does not hold up the timed sends.
  if (!error) return;
  if (automatic) {
    log_.AppendLog(kLogError, Format(Gbk<"定时发送出现错误: %s">(), {*error}));
  } else {
    listener_.ReportError(*error);
  }
}

SendRun SendRoad::RunSend(const SendControls& controls, const QDateTime& started,
                          const std::vector<int>& targets, Repeat repeat) {
  listener_.SendBegins();
  // A station whose page could not be fetched keeps what the site said last; the age rule of
  // the list decides whether that may still go on air.
  stationUpdater_->UpdateStationPages(stationUrls_, readings_, publishTimes_);
  const int fetched = stationUpdater_->LastFetched();
  NoteFetch(fetched);
  lastSendHour_ = FormatDateTime("hh", clock_.Now());
  // The cards by the area their pictures are drawn at, in slot order; a send to no card still
  // draws (slot 0 gives no screen).
  struct SizeGroup {
    QSize area;
    std::vector<int> cards;
  };
  std::vector<SizeGroup> groups;
  for (int k : targets.empty() ? std::vector<int>{0} : targets) {
    const QSize area = AreaOf(controls, k);
    auto group = std::find_if(groups.begin(), groups.end(),
                              [&](const SizeGroup& g) { return !area.isEmpty() && g.area == area; });
    if (group == groups.end()) group = groups.insert(groups.end(), SizeGroup{area, {}});
    group->cards.push_back(k);
  }
  // Each area is logged once; a card that gives none is said so and gets nothing.
  std::erase_if(groups,
                [&](const SizeGroup& g) { return !DrawingArea(controls, AreaUse::kSend, g.cards[0]); });
  if (groups.empty()) return SendRun::kStopped;
  // Cards of different sizes never share a picture: each size is staged under names of its own.
  const bool bySize = groups.size() > 1;
  bool delivering = false;
  bool unchanged = false;
  bool begun = false;
  for (SizeGroup& group : groups) {
    const QSize area = group.area;
    DrawStationPages(controls, area);
    PictureListInputs in;
    in.appFolder = appFolder_;
    in.choice = controls.choice;
    in.readings = readings_;
    in.publishTimes = publishTimes_;
    in.now = clock_.Now();
    in.maxDataAgeHours = settings_.MaxDataAge;
    in.advertisements = controls.advertisements;
    in.renderTextPage = [this, &controls, area] { DrawTextPage(controls, area); };
    const AssemblyReport report = AssemblePictureList(in, pictureList_, log_);
    OnAirProgram program;
    program.started = started;
    for (int station : report.stations) {
      program.publishTimes.push_back(publishTimes_[static_cast<size_t>(station)]);
      program.stations.push_back(
          {station, readings_[static_cast<size_t>(station)], publishTimes_[static_cast<size_t>(station)]});
    }
    // A program of no picture would clear the screen: it says that the readings are coming.
    if (pictureList_.empty()) {
      pictureList_ = DrawNotice(controls, area) + ';';
      program.notice = true;
    }
    incomplete_ = fetched < kStationCount || report.leftOut > 0;
    program.digest = PictureListDigest(pictureList_);
    if (repeat != Repeat::kAlways) {
      // A card that shows these pictures already is not sent them again.
      std::erase_if(group.cards, [&](int k) {
        const auto it = played_.find(link_.Slot(k).barcode);
        return it != played_.end() && it->second.digest == program.digest &&
               (repeat == Repeat::kNever ||
                SlotStart(it->second.sendStarted, controls.dtk) == SlotStart(started, controls.dtk));
      });
      if (group.cards.empty()) {
        unchanged = true;
        continue;
      }
    }
    DeliverySettings delivery;
    delivery.config = settings_;
    delivery.pictureFolder = PictureFolder();
    delivery.area = area;
    if (bySize) delivery.namePrefix = Format("%dx%d_", {area.width(), area.height()});
    if (!begun) {
      // Whatever the link awaited before is replaced by this send's deliveries.
      begun = true;
      deliveryOf_.reset();
      awaited_.clear();
      cardFailed_ = cardStalled_ = false;
      cardsPlayed_ = 0;
      delivering_.clear();
      playedSize_.reset();
    }
    StagedProgram staged;
    for (int k : group.cards) {
      const DeliveryStart start = DeliverProgram(link_, delivery, pictureList_, clock_, log_, k, &staged);
      if (start == DeliveryStart::kNoCard) {
        log_.AppendLog(kLogError, Gbk<"没有已登录的控制卡, 节目未发送.">());
        continue;
      }
      if (lastSend_ && lastSend_->started == started) ++lastSend_->cards;
      if (start == DeliveryStart::kSent) {
        awaited_[k] = delivering_.size();
        delivering = true;
      } else {
        cardFailed_ = true;
      }
    }
    for (std::size_t i = 0; i < staged.entries.size(); ++i) {
      program.pictures.push_back(
          {delivery.namePrefix + StagedPictureName(static_cast<int>(i) + 1), staged.entries[i]});
    }
    delivering_.push_back(std::move(program));
  }
  if (unchanged && !begun) {
    log_.AppendLog(kLogInfo, Gbk<"节目内容没有变化, 不重复发送.">());
    return SendRun::kUnchanged;
  }
  if (!delivering) return SendRun::kStopped;
  // Every card's delivery went out in this handler; their ends come in later events.
  deliveryOf_ = started;
  if (lastSend_ && lastSend_->started == started) lastSend_->state = SendState::kDelivering;
  listener_.SendStatusChanged();
  return SendRun::kDelivering;
}

std::string SendRoad::DrawNotice(const SendControls& controls, const QSize& area) {
  TextPageInput in;
  in.W = area.width();
  in.H = area.height();
  in.text = settings_.NoDataText;
  in.layout = kCentredLayout;
  in.font = controls.textPage.font;
  // The lines of the page as a box of the page's width would wrap them.
  in.lines = TextBoxLines(in.text, area.width(), ApplyFontSlot(in.font));
  const TextPageResult result = RenderTextPage(in, PathFromGbk(PictureFolder()), kNoticeFile);
  if (!result.ok()) throw Stop(result.error);
  const std::string path = PictureFolder() + kNoticeFile;
  log_.AppendLog(kLogError,
                 Format(Gbk<"没有可以显示的数据, 发送提示页 \"%s\" %s">(), {settings_.NoDataText, path}));
  return path;
}

void SendRoad::DrawStationPages(const SendControls& controls, const QSize& area) {
  StationPageInput in = controls.stations;
  in.W = area.width();
  in.H = area.height();
  in.readings = readings_;
  const StationPagesResult result = RenderStationPages(in, PathFromGbk(PictureFolder()));
  if (!result.ok()) {
    // The stations written before the failing one show their new page, without strips.
    for (int station = 1; station <= result.written; ++station)
      listener_.ShowStationPreview(station, PagePreview(result.pages[static_cast<size_t>(station - 1)]));
    throw Stop(result.error);
  }
  const std::array<QImage, 4> previews =
      RenderPreviews(result.pages, controls.subtitle, controls.clock, clock_);
  for (int station = 1; station <= kStationCount; ++station)
    listener_.ShowStationPreview(station, previews[static_cast<size_t>(station - 1)]);
}

void SendRoad::DrawTextPage(const SendControls& controls, const QSize& area) {
  TextPageInput in = controls.textPage;
  in.W = area.width();
  in.H = area.height();
  const TextPageResult result = RenderTextPage(in, PathFromGbk(PictureFolder()));
  if (!result.ok()) throw Stop(result.error);
}

std::optional<std::string> SendRoad::DrawTextPreview(const SendControls& controls) {
  // The page as a send would draw it; without any area there is nothing to show.
  // The first connected card's screen, as a send would draw for it.
  const std::vector<int> connected = link_.ConnectedSlots();
  const std::optional<QSize> area =
      DrawingArea(controls, AreaUse::kPreview, connected.empty() ? 1 : connected[0]);
  if (!area) return std::nullopt;
  try {
    DrawTextPage(controls, *area);
  } catch (const Stop& e) {
    listener_.ReportError(e.what());
    return std::nullopt;
  }
  return PictureFolder() + "g.bmp";
}

void SendRoad::OnTick(const SendControls& controls) {
  // A delivery past its limit ends before the slot is judged, so the tick can try again.
  link_.CheckDeliveryDeadline();
  TickFacts facts;
  facts.now = clock_.Now();
  facts.autoSend = settings_.AutoSend != 0;
  facts.dtk = controls.dtk;
  const std::vector<int> connected = link_.ConnectedSlots();
  facts.cardLoggedIn = !connected.empty();
  facts.cardWaiting = std::any_of(connected.begin(), connected.end(), [&](int k) {
    return !CardServed(link_.Slot(k).barcode, facts.now, facts.dtk);
  });
  facts.sendRunning = Busy();
  facts.deliveryInFlight = link_.DeliveryInFlight();
  facts.refreshWanted = RefreshWanted(facts.now);
  // A retry in the slot whose delivery is on air (only the notice went out) sends only news.
  const bool onAirThisSlot =
      onAir_ && SlotStart(onAir_->started, facts.dtk) == SlotStart(facts.now, facts.dtk);
  const std::string slot = FormatDateTime("hh:nn", SlotStart(facts.now, facts.dtk));
  switch (schedule_.OnTick(facts)) {
    case TickAction::kAttempt:
      log_.AppendLog(kLogInfo, Format(Gbk<"定时发送: %s 时段">(), {slot}));
      StartSend(controls, true, Targets(true, facts.dtk),
                onAirThisSlot ? Repeat::kNotThisSlot : Repeat::kAlways);
      break;
    case TickAction::kRefresh:
      log_.AppendLog(kLogInfo, Format(Gbk<"定时更新: %s 时段, 重新获取数据">(), {slot}));
      StartSend(controls, true, Targets(false, facts.dtk), Repeat::kNever);
      break;
    case TickAction::kRefuse:
      RefuseSend();
      break;
    case TickAction::kNoCardNotice:
      log_.AppendLog(kLogError, Format(Gbk<"定时发送: %s 时段没有已登录的控制卡, 暂不发送">(), {slot}));
      break;
    case TickAction::kNone:
      break;
  }
  listener_.SendStatusChanged();
}

void SendRoad::NoteFetch(int fetched) {
  lastFetch_ = FetchRecord{clock_.Now(), fetched};
  for (int station = 1; station <= kStationCount; ++station)
    counters_.CountFetch(station, stationUpdater_->LastOutcomes()[static_cast<size_t>(station)]);
  listener_.SendStatusChanged();
}

bool SendRoad::RefreshWanted(const QDateTime& now) const {
  if (!onAir_) return false;
  if (onAir_->notice || incomplete_) return true;
  for (const std::string& published : onAir_->publishTimes) {
    if (FreshnessOf(published, now, settings_.MaxDataAge) != Freshness::kFresh) return true;
  }
  return false;
}

QSize SendRoad::AreaOf(const SendControls& controls, int slot) const {
  if (controls.dtw > 0 && controls.dth > 0) return QSize(controls.dtw, controls.dth);
  const Client_record& card = link_.Slot(slot);
  return SendArea(controls.dtw, controls.dth,
                  link_.SlotConnected(slot) ? QSize(card.width, card.height) : QSize());
}

std::optional<QSize> SendRoad::DrawingArea(const SendControls& controls, AreaUse use, int slot) {
  const int w = controls.dtw;
  const int h = controls.dth;
  if (w > 0 && h > 0) return QSize(w, h);
  const bool connected = link_.SlotConnected(slot);
  const QSize area = AreaOf(controls, slot);
  if (area.isEmpty()) {
    // A card that reports no screen is not a missing card: the operator must set the area.
    const std::string& why =
        !connected ? NoAreaText(use)
        : use == AreaUse::kSend
            ? Gbk<"显示区域的宽度或高度为0, 已登录的控制卡报告的屏幕大小也为0, 本次发送未执行.">()
            : Gbk<"显示区域的宽度或高度为0, 已登录的控制卡报告的屏幕大小也为0, 无法预览.">();
    log_.AppendLog(kLogError, why);
    if (use == AreaUse::kPreview) listener_.ReportError(why);
    return std::nullopt;
  }
  log_.AppendLog(kLogInfo, Format(CardAreaPattern(use), {w, h, area.width(), area.height()}));
  return area;
}

void SendRoad::OnDeliveryEnded(DeliveryOutcome outcome, int slot) {
  if (!deliveryOf_) return;
  const auto it = awaited_.find(slot);
  if (it == awaited_.end()) return;
  const QDateTime started = *deliveryOf_;
  if (outcome == DeliveryOutcome::kSucceeded) {
    if (it->second < delivering_.size()) {
      const OnAirProgram& program = delivering_[it->second];
      played_[link_.Slot(slot).barcode] =
          CardOnAir{program.started, program.digest, program.publishTimes, program.notice};
      playedSize_ = it->second;
    }
    ++cardsPlayed_;
    if (lastSend_ && lastSend_->started == started) lastSend_->played = cardsPlayed_;
  } else {
    (outcome == DeliveryOutcome::kStalled ? cardStalled_ : cardFailed_) = true;
  }
  awaited_.erase(it);
  if (!awaited_.empty()) {
    listener_.SendStatusChanged();
    return;
  }
  deliveryOf_.reset();
  EndSend(started, CardsState());
}

SendState SendRoad::CardsState() const {
  if (cardFailed_) return SendState::kFailed;
  return cardStalled_ ? SendState::kStalled : SendState::kSucceeded;
}

const std::array<FetchOutcome, kStationCount + 1>& SendRoad::LastOutcomes() const {
  return stationUpdater_->LastOutcomes();
}

void SendRoad::EndSend(const QDateTime& started, SendState state) {
  const bool succeeded = state == SendState::kSucceeded;
  bool notice = false;
  if (!delivering_.empty() && delivering_.front().started == started) {
    // What any card played is on air; the slot wants every card.
    if (playedSize_ && *playedSize_ < delivering_.size()) onAir_ = std::move(delivering_[*playedSize_]);
    notice = delivering_.front().notice;
    delivering_.clear();
    playedSize_.reset();
  }
  schedule_.SendEnded(started, succeeded, !notice);
  counters_.CountDelivery(succeeded                      ? DeliveryResult::kSucceeded
                          : state == SendState::kStalled ? DeliveryResult::kStalled
                                                         : DeliveryResult::kFailed);
  if (lastSend_ && lastSend_->started == started) {
    lastSend_->state = state;
    lastSend_->notice = notice;
  }
  listener_.SendStatusChanged();
}

}  // namespace aqled
