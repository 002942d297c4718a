#include "link/log_limit.h"

#include "link/limits.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string CutForLog(std::string_view gbk) { return CutGbkText(gbk, kMaxLoggedText); }

LineBudget::LineBudget(LogSink& log, const Clock& clock, long long perWindow, Summary summary, int windowMs)
    : log_(log), clock_(clock), perWindow_(perWindow), summary_(std::move(summary)), windowMs_(windowMs) {}

bool LineBudget::Take(long long cost) {
  Flush();
  if (!open_) {
    open_ = true;
    start_ = clock_.Millis();
    written_ = 0;
    counted_ = 0;
  }
  if (written_ + cost <= perWindow_) {
    written_ += cost;
    return true;
  }
  ++counted_;
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
  if (counted_ > 0) log_.AppendLog(kLogError, summary_(counted_));
  counted_ = 0;
}

PeerLog::PeerLog(LogSink& log, const Clock& clock, HoldsSlot holdsSlot)
    : log_(log),
      holdsSlot_(std::move(holdsSlot)),
      card_(
          log, clock, kCardLogBytesPerWindow,
          [](long long n) { return Format(Utf8ToGbk("控制卡的连接另有 %d 行日志未记录"), {n}); },
          kPeerLogWindowMs),
      strangers_(
          log, clock, kStrangerLogBytesPerWindow,
          [](long long n) { return Format(Utf8ToGbk("未登录的连接另有 %d 行日志未记录"), {n}); },
          kPeerLogWindowMs) {}

bool PeerLog::Charge(const std::string& text) {
  if (current_ == nullptr) return true;
  LineBudget& budget = holdsSlot_(*current_) ? card_ : strangers_;
  return budget.Take(static_cast<long long>(text.size()) + kLogLineOverhead);
}

void PeerLog::AppendLog(int kind, const std::string& text) {
  if (Charge(text)) log_.AppendLog(kind, text);
}

void PeerLog::AppendHeartbeat(const std::string& text, const HeartbeatSource& source) {
  if (Charge(text)) log_.AppendHeartbeat(text, source);
}

void PeerLog::Flush() {
  card_.Flush();
  strangers_.Flush();
}

void PeerLog::Close() {
  card_.Close();
  strangers_.Close();
}

}  // namespace aqled
