#pragma once
// What keeps a flood of alike lines out of the log: a budget of lines per time window, the
// rest counted and summarised in one line when the window ends.

#include <QtGlobal>
#include <functional>
#include <optional>
#include <string>

#include "logging/operation_log.h"
#include "text/datetime.h"

namespace aqled {

// A budget per window of `windowMs` on the clock: lines are written while the costs taken in
// the window stay within `perWindow` (each line costs 1 unless the owner counts bytes), the
// others only counted; once the window has ended, one kind-1 line `summary(count)` reports how
// many were counted. A new window opens with the next line, or, for kSpaced, with the summary
// itself.
class LineBudget {
 public:
  using Summary = std::function<std::string(long long count)>;
  enum class Pace {
    kWindows,  // a summary is free: the next line opens a fresh window
    // A summary opens the next window at once and takes one of its lines: with a perWindow of 1,
    // lines and summaries together come at most one per window.
    kSpaced,
  };
  // The log and the clock are borrowed and must outlive the budget.
  LineBudget(LogSink& log, const Clock& clock, long long perWindow, Summary summary, int windowMs,
             Pace pace = Pace::kWindows);

  // True when a line of this cost may be written now; otherwise `count` is added to what the
  // summary reports (one line, unless the owner's line stands for several events).
  bool Take(long long cost = 1, long long count = 1);
  // Writes the summary of a window that has ended. Take calls it first; the owner's timer
  // calls it too, so that the summary of a burst does not wait for the next burst.
  void Flush();
  // Writes the summary of what the open window has counted so far, ended or not, and closes
  // it (kSpaced: opens the next one if it wrote): the owner calls it before it goes, so that
  // nothing counted is lost at exit.
  void Close();
  // Milliseconds until the open window ends (0 once it has), for the owner's timer; nothing
  // while no window is open.
  std::optional<qint64> MillisLeft() const;

 private:
  void Open();

  LogSink& log_;
  const Clock& clock_;
  long long perWindow_;
  Summary summary_;
  int windowMs_;
  Pace pace_;
  bool open_ = false;
  qint64 start_ = 0;  // the clock's Millis
  long long written_ = 0;
  long long counted_ = 0;
};

}  // namespace aqled
