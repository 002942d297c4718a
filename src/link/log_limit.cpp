#include "link/log_limit.h"

#include "link/limits.h"
#include "text/strings.h"

namespace aqled {

std::string CutForLog(std::string_view gbk) { return CutGbkText(gbk, kMaxLoggedText); }

LineBudget::LineBudget(LogSink& log, const Clock& clock, int linesPerWindow, Summary summary)
    : log_(log), clock_(clock), linesPerWindow_(linesPerWindow), summary_(std::move(summary)) {}

bool LineBudget::Take() {
  Flush();
  if (!open_) {
    open_ = true;
    start_ = clock_.Now();
    written_ = 0;
    counted_ = 0;
  }
  if (written_ < linesPerWindow_) {
    ++written_;
    return true;
  }
  ++counted_;
  return false;
}

void LineBudget::Flush() {
  if (!open_) return;
  const QDateTime now = clock_.Now();
  // A clock set back ends the window as well.
  const qint64 elapsed = start_.msecsTo(now);
  if (elapsed >= 0 && elapsed < kSummaryWindowMs) return;
  Close();
}

void LineBudget::Close() {
  if (!open_) return;
  open_ = false;
  if (counted_ > 0) log_.AppendLog(kLogError, summary_(counted_));
  counted_ = 0;
}

}  // namespace aqled
