#pragma once
// The timed delivery: a fixed grid of clock hours (every 2 hours from 00:00 with dtk 0, every
// 3 hours with dtk 1) cuts the day into slots. Each slot wants one successful delivery; the
// first Timer1 tick inside a slot starts an automatic send, and a slot whose send failed is
// tried again at every following tick until one succeeds or the next slot begins. Plain data
// and the time of day only: the window feeds it the facts and acts on its answer.

#include <QDateTime>
#include <optional>

namespace aqled {

// Hours between two slots: 3 for dtk 1 ("3小时更新数据"), 2 for 0 ("2小时更新数据") and for a
// combo box without a selection.
int SlotPeriodHours(int dtk);

// The start of the slot `when` falls in: its date at the latest grid hour not after it, minute 0.
QDateTime SlotStart(const QDateTime& when, int dtk);

// The start of the slot after the one `when` falls in (00:00 of the next day after the last).
QDateTime NextSlotStart(const QDateTime& when, int dtk);

// What the window knows at a tick.
struct TickFacts {
  QDateTime now;
  bool autoSend = true;       // config.ini Set/AutoSend other than 0
  int dtk = 0;                // selected index of the combo box dtk
  bool cardLoggedIn = false;  // a slot holds a connected card
  // A connected card has not played in the slot of `now` (it failed, stalled, or was not
  // connected at the slot's send): a slot that has had its delivery serves it at this tick.
  bool cardWaiting = false;
  bool sendRunning = false;       // a send is between its start and the start of its delivery
  bool deliveryInFlight = false;  // a delivery waits for the card's last answer
  // What is on the screen may no longer be what the site says: a station page on air has
  // passed its age, the last fetch failed for a station, or a station was left out.
  bool refreshWanted = false;
};

enum class TickAction {
  kNone,          // nothing to do at this tick
  kAttempt,       // start an automatic send now
  kRefuse,        // due, but a send of an earlier slot still runs: log the refusal, try next tick
  kNoCardNotice,  // due, but no card is logged in: say so (once per slot), no attempt
  kRefresh,       // the slot has its delivery, but what is on air wants checking: fetch again
                  // and deliver only what differs from it
};

class DeliverySchedule {
 public:
  // Decides what the tick at `facts.now` does. A slot whose own send is still under way needs
  // nothing; one that has had its successful delivery needs an attempt for a card that is
  // waiting, else a refresh when `refreshWanted` and a card is there to take it, else nothing. kNoCardNotice
  // comes once per slot; later ticks of that slot without a card answer kNone.
  TickAction OnTick(const TickFacts& facts);

  // A send, manual or automatic, started at `at`: it counts for the slot `at` falls in.
  void SendStarted(const QDateTime& at);
  // The send started at `startedAt` has ended; a success (every card it went to played)
  // completes the slot it counts for. A success that put only the notice page on air (no
  // readings to show) completes nothing.
  void SendEnded(const QDateTime& startedAt, bool succeeded, bool complete = true);

  // True when the slot of `now` has had its successful delivery.
  bool SlotDone(const QDateTime& now, int dtk) const;

 private:
  std::optional<QDateTime> lastSuccess_;  // start of the latest send that succeeded
  std::optional<QDateTime> running_;      // start of the send whose end is awaited
  std::optional<QDateTime> noticedSlot_;  // the slot whose missing card has been logged
};

}  // namespace aqled
