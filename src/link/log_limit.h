#pragma once
// What keeps the log readable under a flood: texts from a peer are cut to a fixed length, and
// lines that bad data or a connection storm would repeat share a budget per time window, the
// rest being summarised in one line.

#include <QDateTime>
#include <functional>
#include <string>
#include <string_view>

#include "logging/operation_log.h"
#include "text/datetime.h"

namespace aqled {

// A GBK text from a peer as it goes into a log line: CutGbkText (text/strings.h) at
// kMaxLoggedText bytes.
std::string CutForLog(std::string_view gbk);

// A budget of lines per window of kSummaryWindowMs on the clock: the first `linesPerWindow`
// lines of a window are written, the others only counted; once the window has ended, one
// kind-1 line `summary(count)` reports what was counted. A new window opens with the next line.
class LineBudget {
 public:
  using Summary = std::function<std::string(long long count)>;
  // The log and the clock are borrowed and must outlive the budget.
  LineBudget(LogSink& log, const Clock& clock, int linesPerWindow, Summary summary);

  // True when a line may be written now; otherwise the line is counted for the summary.
  bool Take();
  // Writes the summary of a window that has ended. Take calls it first; the owner's timer
  // calls it too, so that the summary of a burst does not wait for the next burst.
  void Flush();
  // Writes the summary of what the open window has counted so far, ended or not, and closes
  // it: the owner calls it before it goes, so that nothing counted is lost at exit.
  void Close();

 private:
  LogSink& log_;
  const Clock& clock_;
  int linesPerWindow_;
  Summary summary_;
  bool open_ = false;
  QDateTime start_;
  int written_ = 0;
  long long counted_ = 0;
};

}  // namespace aqled
