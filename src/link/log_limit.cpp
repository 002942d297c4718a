#include "link/log_limit.h"

#include "link/limits.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string CutForLog(std::string_view gbk) { return CutGbkText(gbk, kMaxLoggedText); }

PeerLog::PeerLog(LogSink& log, const Clock& clock, SlotOf slotOf)
    : log_(log),
      slotOf_(std::move(slotOf)),
      strangers_(
          log, clock, kStrangerLogBytesPerWindow,
          [](long long n) { return Format(Gbk<"未登录的连接另有 %d 行日志未记录">(), {n}); },
          kPeerLogWindowMs) {
  cards_.reserve(kMaxCards);
  for (int k = 1; k <= kMaxCards; ++k) {
    // Slot 1's summary keeps the form it has always had; the others name their slot.
    cards_.emplace_back(
        log, clock, kCardLogBytesPerWindow,
        [k](long long n) {
          return k == 1 ? Format(Gbk<"控制卡的连接另有 %d 行日志未记录">(), {n})
                        : Format(Gbk<"控制卡的连接 [序列:%d] 另有 %d 行日志未记录">(),
                                 {static_cast<long long>(k), n});
        },
        kPeerLogWindowMs);
  }
}

bool PeerLog::Charge(const std::string& text) {
  if (current_ == nullptr) return true;
  const int k = slotOf_(*current_);
  LineBudget& budget = k >= 1 && k <= kMaxCards ? cards_[static_cast<std::size_t>(k - 1)] : strangers_;
  return budget.Take(static_cast<long long>(text.size()) + kLogLineOverhead);
}

void PeerLog::AppendLog(int kind, const std::string& text) {
  if (Charge(text)) log_.AppendLog(kind, text);
}

void PeerLog::AppendHeartbeat(const std::string& text, const HeartbeatSource& source) {
  if (Charge(text)) log_.AppendHeartbeat(text, source);
}

void PeerLog::Flush() {
  for (LineBudget& card : cards_) card.Flush();
  strangers_.Flush();
}

void PeerLog::Close() {
  for (LineBudget& card : cards_) card.Close();
  strangers_.Close();
}

}  // namespace aqled
