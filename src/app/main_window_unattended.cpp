// The window's unattended side: the timed delivery at Timer1's ticks, the end of every
// delivery as the link reports it, the display area of a send, and the status line.

#include <QComboBox>
#include <QTimer>

#include "app/main_window.h"
#include "compose/picture_list.h"
#include "link/controller_link.h"
#include "link/delivery.h"
#include "render/display_area.h"
#include "stations/update.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

// Texts of the system, GBK, converted once from the UTF-8 source.
const std::string& TimedSendPattern() {
  static const std::string text = Utf8ToGbk("定时发送: %s 时段");
  return text;
}
const std::string& TimedNoCardPattern() {
  static const std::string text = Utf8ToGbk("定时发送: %s 时段没有已登录的控制卡, 暂不发送");
  return text;
}
const std::string& TimedRefreshPattern() {
  static const std::string text = Utf8ToGbk("定时更新: %s 时段, 重新获取数据");
  return text;
}
const std::string& NoCardSizeText() {
  static const std::string text =
      Utf8ToGbk("显示区域的宽度或高度为0, 已登录的控制卡报告的屏幕大小也为0, 本次发送未执行.");
  return text;
}
const std::string& NoCardSizePreviewText() {
  static const std::string text =
      Utf8ToGbk("显示区域的宽度或高度为0, 已登录的控制卡报告的屏幕大小也为0, 无法预览.");
  return text;
}
const std::string& NoCardText() {
  static const std::string text = Utf8ToGbk("没有已登录的控制卡, 节目未发送.");
  return text;
}
const std::string& CardAreaPattern(AreaUse use) {
  static const std::string send = Utf8ToGbk("显示区域 %d x %d, 本次发送使用控制卡屏幕大小 %d x %d");
  static const std::string preview = Utf8ToGbk("显示区域 %d x %d, 预览使用控制卡屏幕大小 %d x %d");
  return use == AreaUse::kSend ? send : preview;
}
const std::string& NoAreaText(AreaUse use) {
  static const std::string send =
      Utf8ToGbk("显示区域的宽度或高度为0, 又没有已登录的控制卡提供屏幕大小, 本次发送未执行.");
  static const std::string preview =
      Utf8ToGbk("显示区域的宽度或高度为0, 又没有已登录的控制卡提供屏幕大小, 无法预览.");
  return use == AreaUse::kSend ? send : preview;
}

SendState StateOf(DeliveryOutcome outcome) {
  switch (outcome) {
    case DeliveryOutcome::kSucceeded:
      return SendState::kSucceeded;
    case DeliveryOutcome::kStalled:
      return SendState::kStalled;
    case DeliveryOutcome::kFailed:
      break;
  }
  return SendState::kFailed;
}

}  // namespace

void TForm1::ConnectStatus() {
  // The status follows what happens, and the seconds since the card's last message tick on.
  // Bytes come in bursts (a flood is thousands a second): they redraw the line once, soon.
  statusDelay_ = new QTimer(this);
  statusDelay_->setSingleShot(true);
  statusDelay_->setInterval(kStatusDelayMs);
  connect(statusDelay_, &QTimer::timeout, this, &TForm1::RefreshStatus);
  connect(link_.get(), &ControllerLink::BytesHandled, this, &TForm1::ScheduleStatusRefresh);
  connect(link_.get(), &ControllerLink::ConnectionClosed, this, &TForm1::ScheduleStatusRefresh);
  connect(link_.get(), &ControllerLink::DeliveryEnded, this, &TForm1::OnDeliveryEnded);
  connect(dtk, &QComboBox::currentIndexChanged, this, &TForm1::RefreshStatus);
  statusTimer_ = new QTimer(this);
  statusTimer_->setObjectName("StatusTimer");
  statusTimer_->setInterval(kStatusRefreshMs);
  connect(statusTimer_, &QTimer::timeout, this, &TForm1::RefreshStatus);
  statusTimer_->start();
  RefreshStatus();
}

void TForm1::ShowStatusMessage(const std::string& gbkText) { StatusBar1->ShowTransient(ToQString(gbkText)); }

void TForm1::ScheduleStatusRefresh() {
  if (!statusDelay_->isActive()) statusDelay_->start();
}

void TForm1::RefreshStatus() {
  if (statusDelay_) statusDelay_->stop();
  StatusSnapshot s;
  s.now = clock_->Now();
  const Client_record& card = link_->Slot(1);
  s.cardKnown = link_->slotCount() > 0;
  s.tag = card.barcode;
  s.name = card.controllerName;
  s.connected = link_->SlotConnected(1);
  s.lastMessage = card.lastMessage;
  s.lastSend = lastSend_;
  s.autoSend = programSettings.AutoSend != 0;
  const int period = dtk->currentIndex();
  s.slot = SlotStart(s.now, period);
  s.slotDue = !schedule_.SlotDone(s.now, period);
  s.nextSlot = NextSlotStart(s.now, period);
  s.awaitingCard = deliveryOf_.has_value();
  if (Timer1->isActive()) s.nextTick = s.now.addMSecs(Timer1->remainingTime());
  s.lastFetch = lastFetch_;
  StatusBar1->Show(s);
  statusCounters_.NoteCard(s.connected, s.now);
}

void TForm1::RunSchedule() {
  // A delivery past its limit ends before the slot is judged, so the tick can try again.
  link_->CheckDeliveryDeadline();
  TickFacts facts;
  facts.now = clock_->Now();
  facts.autoSend = programSettings.AutoSend != 0;
  facts.dtk = dtk->currentIndex();
  facts.cardLoggedIn = link_->SlotConnected(1);
  facts.sendRunning = SendBusy();
  facts.deliveryInFlight = link_->DeliveryInFlight();
  facts.refreshWanted = RefreshWanted(facts.now);
  // A retry in the slot whose delivery is on air (only the notice went out) sends only news.
  const bool onAirThisSlot =
      onAir_ && SlotStart(onAir_->started, facts.dtk) == SlotStart(facts.now, facts.dtk);
  const std::string slot = FormatDateTime("hh:nn", SlotStart(facts.now, facts.dtk));
  switch (schedule_.OnTick(facts)) {
    case TickAction::kAttempt:
      AppendLog(kLogInfo, Format(TimedSendPattern(), {slot}));
      StartSend(true, onAirThisSlot);
      break;
    case TickAction::kRefresh:
      AppendLog(kLogInfo, Format(TimedRefreshPattern(), {slot}));
      StartSend(true, true);
      break;
    case TickAction::kRefuse:
      RefuseSend();
      break;
    case TickAction::kNoCardNotice:
      AppendLog(kLogError, Format(TimedNoCardPattern(), {slot}));
      break;
    case TickAction::kNone:
      break;
  }
  RefreshStatus();
}

void TForm1::NoteFetch(int fetched) {
  lastFetch_ = FetchRecord{clock_->Now(), fetched};
  for (int station = 1; station <= kStationCount; ++station)
    statusCounters_.CountFetch(station, stationUpdater_->LastOutcomes()[static_cast<size_t>(station)]);
  RefreshStatus();
}

bool TForm1::RefreshWanted(const QDateTime& now) const {
  if (!onAir_) return false;
  if (onAir_->notice || incomplete_) return true;
  for (const std::string& published : onAir_->publishTimes) {
    if (FreshnessOf(published, now, programSettings.MaxDataAge) != Freshness::kFresh) return true;
  }
  return false;
}

std::optional<QSize> TForm1::DrawingArea(AreaUse use) {
  const int w = dtw->Value();
  const int h = dth->Value();
  if (w > 0 && h > 0) return QSize(w, h);
  const Client_record& card = link_->Slot(1);
  const bool connected = link_->SlotConnected(1);
  const QSize area = SendArea(w, h, connected ? QSize(card.width, card.height) : QSize());
  if (area.isEmpty()) {
    // A card that reports no screen is not a missing card: the operator must set the area.
    const std::string& why = !connected              ? NoAreaText(use)
                             : use == AreaUse::kSend ? NoCardSizeText()
                                                     : NoCardSizePreviewText();
    AppendLog(kLogError, why);
    if (use == AreaUse::kPreview) dialogs_->Message(why);
    return std::nullopt;
  }
  AppendLog(kLogInfo, Format(CardAreaPattern(use), {w, h, area.width(), area.height()}));
  return area;
}

bool TForm1::NoteDeliveryStart(const QDateTime& started, DeliveryStart start) {
  // Whatever the link awaited before has been replaced by this delivery.
  deliveryOf_.reset();
  switch (start) {
    case DeliveryStart::kSent:
      deliveryOf_ = started;
      if (lastSend_ && lastSend_->started == started) lastSend_->state = SendState::kDelivering;
      RefreshStatus();
      return true;
    case DeliveryStart::kNoCard:
      AppendLog(kLogError, NoCardText());
      return false;
    case DeliveryStart::kFailed:
      return false;
  }
  return false;
}

void TForm1::OnDeliveryEnded(DeliveryOutcome outcome) {
  if (!deliveryOf_) return;
  const QDateTime started = *deliveryOf_;
  deliveryOf_.reset();
  EndSend(started, StateOf(outcome));
}

void TForm1::EndSend(const QDateTime& started, SendState state) {
  const bool succeeded = state == SendState::kSucceeded;
  bool notice = false;
  if (delivering_ && delivering_->started == started) {
    if (succeeded) onAir_ = delivering_;
    notice = delivering_->notice;
    delivering_.reset();
  }
  schedule_.SendEnded(started, succeeded, !notice);
  statusCounters_.CountDelivery(succeeded                      ? DeliveryResult::kSucceeded
                                : state == SendState::kStalled ? DeliveryResult::kStalled
                                                               : DeliveryResult::kFailed);
  if (lastSend_ && lastSend_->started == started) {
    lastSend_->state = state;
    lastSend_->notice = notice;
  }
  RefreshStatus();
}

}  // namespace aqled
