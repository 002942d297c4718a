// The window's unattended side: the status line, fed by the link, the send road and its own
// timers (the timed delivery itself is the send road's, src/send).

#include <QComboBox>
#include <QTimer>

#include "app/main_window.h"
#include "link/controller_link.h"
#include "text/gbk.h"

namespace aqled {

void TForm1::ConnectStatus() {
  // The status follows what happens, and the seconds since the card's last message tick on.
  // Bytes come in bursts (a flood is thousands a second): they redraw the line once, soon.
  statusDelay_ = new QTimer(this);
  statusDelay_->setSingleShot(true);
  statusDelay_->setInterval(kStatusDelayMs);
  connect(statusDelay_, &QTimer::timeout, this, &TForm1::RefreshStatus);
  connect(link_.get(), &ControllerLink::BytesHandled, this, &TForm1::ScheduleStatusRefresh);
  connect(link_.get(), &ControllerLink::ConnectionClosed, this, &TForm1::ScheduleStatusRefresh);
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
  s.maxCards = link_->MaxCards();
  for (int k = 1; k <= link_->slotCount(); ++k) {
    const Client_record& slot = link_->Slot(k);
    s.cards.push_back({slot.barcode, slot.controllerName, link_->SlotConnected(k), slot.lastMessage});
  }
  // With several cards, the link counts as up while any card is connected.
  if (s.maxCards > 1) s.connected = !link_->ConnectedSlots().empty();
  s.lastSend = road_->LastSend();
  s.autoSend = programSettings.AutoSend != 0;
  const int period = dtk->currentIndex();
  s.slot = SlotStart(s.now, period);
  s.slotDue = !road_->Schedule().SlotDone(s.now, period);
  s.nextSlot = NextSlotStart(s.now, period);
  s.awaitingCard = road_->AwaitingCard();
  if (Timer1->isActive()) s.nextTick = s.now.addMSecs(Timer1->remainingTime());
  s.lastFetch = road_->LastFetch();
  StatusBar1->Show(s);
  for (int k = 1; k <= link_->slotCount(); ++k) road_->Counters().NoteCard(k, link_->SlotConnected(k), s.now);
}

}  // namespace aqled
