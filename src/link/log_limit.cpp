#include "link/log_limit.h"

#include "link/limits.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string CutForLog(std::string_view gbk) {
  if (gbk.size() <= kMaxLoggedText) return std::string(gbk);
  std::size_t end = 0;
  while (end < kMaxLoggedText) {
    const std::size_t width = static_cast<unsigned char>(gbk[end]) >= 0x81 ? 2 : 1;
    if (end + width > kMaxLoggedText) break;
    end += width;
  }
  return std::string(gbk.substr(0, end)) +
         Format(Utf8ToGbk("…(共 %d 字节)"), {static_cast<long long>(gbk.size())});
}

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
