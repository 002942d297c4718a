#include "logging/line_budget.h"

#include <algorithm>
#include <utility>

namespace aqled {

LineBudget::LineBudget(LogSink& log, const Clock& clock, long long perWindow, Summary summary, int windowMs,
                       Pace pace)
    : log_(log),
      clock_(clock),
      perWindow_(perWindow),
      summary_(std::move(summary)),
      windowMs_(windowMs),
      pace_(pace) {}

void LineBudget::Open() {
  open_ = true;
  start_ = clock_.Millis();
  written_ = 0;
  counted_ = 0;
}

bool LineBudget::Take(long long cost, long long count) {
  Flush();
  if (!open_) Open();
  if (written_ + cost <= perWindow_) {
    written_ += cost;
    return true;
  }
  counted_ += count;
  return false;
}

void LineBudget::Flush() {
  if (!open_) return;
  // A clock set back ends the window as well.
  const qint64 elapsed = clock_.Millis() - start_;
  if (elapsed >= 0 && elapsed < windowMs_) return;
  Close();
}

void LineBudget::Close() {
  if (!open_) return;
  open_ = false;
  if (counted_ == 0) return;
  log_.AppendLog(kLogError, summary_(counted_));
  counted_ = 0;
  if (pace_ == Pace::kSpaced) {
    Open();
    written_ = 1;
  }
}

std::optional<qint64> LineBudget::MillisLeft() const {
  if (!open_) return std::nullopt;
  const qint64 elapsed = clock_.Millis() - start_;
  if (elapsed < 0) return 0;
  return std::max<qint64>(0, windowMs_ - elapsed);
}

}  // namespace aqled
