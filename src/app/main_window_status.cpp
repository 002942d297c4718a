// The window's side of the status page: the facts it holds, gathered at each request and
// handed to the status module, whose answers the share server sends.

#include <QComboBox>
#include <algorithm>

#include "app/main_window.h"
#include "link/controller_link.h"
#include "link/packaging.h"
#include "settings/program_settings.h"
#include "share/share_server.h"
#include "stations/update.h"
#include "status/limits.h"
#include "text/strings.h"

namespace aqled {
namespace {

static_assert(kStatusMaxCards == kMaxCards, "the status answers show every slot the table can hold");

DeliveryState StateOf(SendState state) {
  switch (state) {
    case SendState::kRunning:
      return DeliveryState::kRunning;
    case SendState::kDelivering:
      return DeliveryState::kDelivering;
    case SendState::kSucceeded:
      return DeliveryState::kSucceeded;
    case SendState::kFailed:
      return DeliveryState::kFailed;
    case SendState::kStalled:
      return DeliveryState::kStalled;
  }
  return DeliveryState::kFailed;
}

}  // namespace

void TForm1::PublishStatus() {
  startedAt_ = clock_->Now();
  statusClock_.start();
  shareServer_->SetPages([this](const QString& path) -> std::optional<ShareAnswer> {
    const std::optional<StatusAddress> address = StatusAddressOf(path.toStdString());
    if (!address) return std::nullopt;
    return ShareAnswer{
        statusAnswers_.Answer(*address, statusClock_.elapsed(), [this] { return CollectStatusFacts(); }),
        kStatusContentTypes.at(static_cast<size_t>(*address))};
  });
}

StatusFacts TForm1::CollectStatusFacts() const {
  StatusFacts f;
  f.now = clock_->Now();
  f.started = startedAt_;
  f.version = AQLED_VERSION;
  // Every slot the table may hold: one not yet taken shows (and is measured) as a card not there.
  const int shown = std::min(std::max(link_->MaxCards(), link_->slotCount()), kStatusMaxCards);
  for (int k = 1; k <= shown; ++k) {
    StatusCard& c = f.cards.emplace_back();
    c.slot = k;
    if (k > link_->slotCount()) continue;
    const Client_record& card = link_->Slot(k);
    c.known = true;
    c.tag = card.barcode;
    c.name = card.controllerName;
    c.address = card.remoteAddress;
    c.connected = link_->SlotConnected(k);
    c.lastMessage = card.lastMessage;
    c.goneSince = road_->Counters().GoneSince(k);
    if (const CardOnAir* played = road_->PlayedBy(card.barcode))
      c.played = StatusCard::Played{played->sendStarted, played->publishTimes, played->notice};
  }
  if (const std::optional<OnAirProgram>& onAir = road_->OnAir()) {
    StatusOnAir& a = f.onAir.emplace();
    a.since = onAir->started;
    a.notice = onAir->notice;
    a.stations = onAir->stations;
    // The pictures as the delivery staged them in ShareFolder, in play order.
    const std::string published = SharePathOf(programSettings.HttpBaseDir);
    for (const OnAirProgram::StagedPicture& p : onAir->pictures) {
      if (a.pictures.size() >= kStatusMaxPictures) break;
      a.pictures.push_back({published + p.name, FileNameOf(p.entry)});
    }
  }
  f.maxDataAgeHours = programSettings.MaxDataAge;
  if (const std::optional<SendRecord>& lastSend = road_->LastSend()) {
    f.lastDelivery =
        StatusDelivery{lastSend->started, lastSend->automatic, StateOf(lastSend->state), lastSend->notice,
                       lastSend->reason,  lastSend->cards,     lastSend->played};
  }
  f.autoSend = programSettings.AutoSend != 0;
  f.nextSlot = NextSlotStart(f.now, dtk->currentIndex());
  f.slotHours = SlotPeriodHours(dtk->currentIndex());
  if (road_->LastFetch()) f.lastFetchAt = road_->LastFetch()->at;
  for (int n = 1; n <= kStationCount; ++n) {
    const size_t i = static_cast<size_t>(n);
    f.fetches[i] = {road_->LastOutcomes()[i], road_->Readings()[i], road_->PublishTimes()[i]};
  }
  const std::deque<ScreenLine>& recent = operationLog_->RecentLines();
  f.log.assign(recent.begin(), recent.end());
  f.counters = road_->Counters();
  f.process = ReadProcessFacts();
  return f;
}

}  // namespace aqled
