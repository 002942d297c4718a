#pragma once
// What keeps the log readable under a flood: texts from a peer are cut to a fixed length, and
// lines that bad data or a connection storm would repeat share a budget per time window
// (LineBudget, logging/line_budget.h), the rest being summarised in one line.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "link/limits.h"
#include "logging/line_budget.h"
#include "logging/operation_log.h"
#include "text/datetime.h"

namespace aqled {

class CardConnection;

// A GBK text from a peer as it goes into a log line: CutGbkText (text/strings.h) at
// kMaxLoggedText bytes.
std::string CutForLog(std::string_view gbk);

// The log of the controller link as the connections see it: a line written while a
// connection's bytes are handled (inside a Scope) is charged, with kLogLineOverhead, to the
// budget of the slot that connection holds at that moment (each card has its own, so one
// card's deliveries never cut another's lines), else to the one budget of the connections
// without a slot; a line over budget is counted for that budget's summary. Lines written
// outside any Scope (deliveries, time-outs) go to the log unbudgeted.
class PeerLog : public LogSink {
 public:
  // The slot a connection holds now, 1 to kMaxCards; 0 for none.
  using SlotOf = std::function<int(const CardConnection& connection)>;
  // The log and the clock are borrowed and must outlive this.
  PeerLog(LogSink& log, const Clock& clock, SlotOf slotOf);

  void AppendLog(int kind, const std::string& text) override;
  // A heartbeat line is charged like any other and reaches the log as a heartbeat, to be folded.
  void AppendHeartbeat(const std::string& text, const HeartbeatSource& source) override;

  // While it lives, lines are charged for `connection`.
  class Scope {
   public:
    Scope(PeerLog& log, const CardConnection& connection) : log_(log), previous_(log.current_) {
      log_.current_ = &connection;
    }
    ~Scope() { log_.current_ = previous_; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    PeerLog& log_;
    const CardConnection* previous_;
  };

  // The summaries of windows that have ended; Close writes every open one.
  void Flush();
  void Close();

 private:
  // True when the line fits the budget of the connection it is charged to (or no connection's).
  bool Charge(const std::string& text);

  LogSink& log_;
  SlotOf slotOf_;
  std::vector<LineBudget> cards_;  // slot k's budget at k - 1
  LineBudget strangers_;
  const CardConnection* current_ = nullptr;
};

}  // namespace aqled
