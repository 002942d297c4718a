#include "schedule/schedule.h"

namespace aqled {

int SlotPeriodHours(int dtk) { return dtk == 1 ? 3 : 2; }

QDateTime SlotStart(const QDateTime& when, int dtk) {
  const int period = SlotPeriodHours(dtk);
  QDateTime start = when;
  start.setTime(QTime(when.time().hour() / period * period, 0));
  return start;
}

QDateTime NextSlotStart(const QDateTime& when, int dtk) {
  const int period = SlotPeriodHours(dtk);
  const int hour = when.time().hour() / period * period + period;
  QDateTime next = when;
  // The grid divides the day, so the slot after the last one is the next day's first.
  if (hour >= 24) {
    next.setDate(when.date().addDays(1));
    next.setTime(QTime(0, 0));
  } else {
    next.setTime(QTime(hour, 0));
  }
  return next;
}

bool DeliverySchedule::SlotDone(const QDateTime& now, int dtk) const {
  return lastSuccess_ && SlotStart(*lastSuccess_, dtk) == SlotStart(now, dtk);
}

TickAction DeliverySchedule::OnTick(const TickFacts& facts) {
  if (!facts.autoSend) return TickAction::kNone;
  if (SlotDone(facts.now, facts.dtk)) {
    const bool free = !facts.sendRunning && !facts.deliveryInFlight && facts.cardLoggedIn;
    if (free && facts.cardWaiting) return TickAction::kAttempt;
    return facts.refreshWanted && free ? TickAction::kRefresh : TickAction::kNone;
  }
  const QDateTime slot = SlotStart(facts.now, facts.dtk);
  if (facts.sendRunning || facts.deliveryInFlight) {
    // The slot's own send is awaited; one of an earlier slot is waited for only while it is
    // still delivering (its end comes within the delivery limits), a running one is refused.
    if (running_ && SlotStart(*running_, facts.dtk) == slot) return TickAction::kNone;
    return facts.sendRunning ? TickAction::kRefuse : TickAction::kNone;
  }
  if (!facts.cardLoggedIn) {
    if (noticedSlot_ == slot) return TickAction::kNone;
    noticedSlot_ = slot;
    return TickAction::kNoCardNotice;
  }
  return TickAction::kAttempt;
}

void DeliverySchedule::SendStarted(const QDateTime& at) { running_ = at; }

void DeliverySchedule::SendEnded(const QDateTime& startedAt, bool succeeded, bool complete) {
  // The awaited send's success counts even when it started before the last one: the clock was
  // set back in between. Only an older send's late end must not undo a newer success.
  const bool awaited = running_ == startedAt;
  if (awaited) running_.reset();
  if (succeeded && complete && (awaited || !lastSuccess_ || *lastSuccess_ < startedAt))
    lastSuccess_ = startedAt;
}

}  // namespace aqled
