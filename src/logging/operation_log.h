#pragma once
// The operation log: every subsystem reports through LogSink::AppendLog. OperationLog puts
// each line on the screen (through LogScreen, in batches) and appends it to the daily file in
// LogFolder, which it keeps open between lines.

#include <QDate>
#include <QFile>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "text/datetime.h"

namespace aqled {

// Kinds of line: 1 errors (red), 2 commands sent and exchange progress (green),
// 3 received data and information (yellow), any other white.
enum LogKind : int { kLogError = 1, kLogSent = 2, kLogInfo = 3 };

struct Rgb {
  int r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

// The screen colour of a kind.
Rgb ColourOfKind(int kind);

// Where a received heartbeat came from: the connection it arrived on, a key that is only
// compared, and the GBK label that names the card or the connection on the screen.
struct HeartbeatSource {
  std::uintptr_t connection = 0;
  std::string label;
  bool operator==(const HeartbeatSource&) const = default;
};

// What every subsystem writes to. Never reports a failure to its caller.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLog(int kind, const std::string& text) = 0;
  // A received heartbeat, logged as the kind-3 line `text`. A sink may fold a run of them
  // from one source on its screen; one that does not logs the line as AppendLog does.
  virtual void AppendHeartbeat(const std::string& text, const HeartbeatSource& source) {
    (void)source;
    AppendLog(kLogInfo, text);
  }
};

// One line of the on-screen log.
struct ScreenLine {
  std::string gbkText;
  Rgb colour;
};

// The on-screen log control as the log sees it. The log that writes into a screen registers
// how to put its gathered lines on it, so that a reader of the control sees every line logged
// so far (FlushPending).
class LogScreen {
 public:
  virtual ~LogScreen() = default;
  // The lines the control holds now.
  virtual int HeldLines() const = 0;
  virtual void ClearLines() = 0;
  // Appends the lines in their colours (the control sets its font to 宋体 8 points) and
  // scrolls the last into view.
  virtual void AppendLines(const std::vector<ScreenLine>& lines) = 0;
  // Replaces the text and colour of the last line; on an empty control, appends the line.
  virtual void ReplaceLastLine(const ScreenLine& line) = 0;

  void SetPendingFlush(std::function<void()> flush) { pendingFlush_ = std::move(flush); }

 protected:
  // Puts the lines the log has gathered and not yet shown on the control.
  void FlushPending() const {
    if (pendingFlush_) pendingFlush_();
  }

 private:
  std::function<void()> pendingFlush_;
};

// "Log" + YYYYMMDD + ".txt".
std::string DailyLogFileName(const QDate& date);
// The date a daily file's name carries; nothing for any other name (exact case, a real date).
std::optional<QDate> DateOfDailyLogFile(const std::string& fileName);

class OperationLog : public LogSink {
 public:
  // `logFolder` is never created; files are written only while it exists. The clock and the
  // screen are borrowed and must outlive the log; `screen` may be null.
  OperationLog(std::filesystem::path logFolder, Clock& clock, LogScreen* screen);
  // Shows the gathered lines and closes the daily file.
  ~OperationLog() override;
  OperationLog(const OperationLog&) = delete;
  OperationLog& operator=(const OperationLog&) = delete;

  // Deletes every daily file in the log folder dated kDailyLogDays or more days before
  // `today` (files of any other name, and later dates, stay) and records `today` as the day
  // of the last housekeeping. Start-up calls it; AppendLog calls it on the first line of a
  // later day. A file that cannot be deleted is skipped.
  void Housekeep(const QDate& today);
  QDate LastLogDate() const { return lastLogDate_; }

  // Reads the clock once. Screen line "hh:nn:ss:zzz " + " " + text (the control is emptied
  // first when it already holds more than kScreenLinesBeforeClear lines); file line
  // "hh:nn:ss:zzz " + text + CR LF with the same time stamp, GBK as given. The screen line is
  // gathered and shown within kScreenBatchMs; the file line is written at once.
  void AppendLog(int kind, const std::string& text) override;
  // Like AppendLog with kind 3, except on the screen: the first heartbeat of a run from one
  // source is shown as it is, and each further one replaces that line with
  // label + " 收到心跳 ×" + count + ", 最后 hh:nn:ss", under the run's first time stamp. Any
  // other line ends the run. The file keeps every line.
  void AppendHeartbeat(const std::string& text, const HeartbeatSource& source) override;

  // The last kRecentScreenLines lines as the screen shows them (a heartbeat run folded into
  // one line), oldest first; kept whether or not the screen has been emptied since.
  const std::deque<ScreenLine>& RecentLines() const { return recent_; }

  // Puts the gathered lines on the screen and checks that the open daily file is still in its
  // folder; the batch timer runs it, and so does a reader of the screen.
  void FlushBatch();

 private:
  // The screen's side of one line: gathered for the next batch, the 200-line rule applied.
  void GatherLine(ScreenLine line);
  void ShowPending();
  // The file's side of one line; a line that cannot be written is counted with its reason.
  void WriteFileLine(const QDateTime& now, const std::string& line);
  bool OpenFile(const QDate& day);
  void CountUnwritten(long long lines, const std::string& gbkReason);
  void ArmBatch();
  // Keeps `line` among the recent lines, in place of the last one when `replace`.
  void Remember(const ScreenLine& line, bool replace);

  std::filesystem::path logFolder_;
  Clock& clock_;
  LogScreen* screen_;
  QDate lastLogDate_;
  QTimer batchTimer_;

  // Screen lines not yet shown: the lines after the last emptying of the control. `clearFirst_`
  // says the control is emptied before they go on it; `replaceLast_` replaces the line on it.
  std::vector<ScreenLine> pending_;
  std::optional<ScreenLine> replaceLast_;
  bool clearFirst_ = false;
  int linesAfterBatch_ = 0;  // the lines the control holds once the gathered ones are on it
  bool flushing_ = false;

  // The heartbeat run that the last screen line shows, if it shows one.
  struct HeartbeatRun {
    HeartbeatSource source;
    std::string firstStamp;
    long long count = 0;
  };
  std::optional<HeartbeatRun> run_;
  std::deque<ScreenLine> recent_;

  QFile file_;
  QDate fileDay_;
  qint64 fileSize_ = 0;              // the open file's size: where a failed line is cut off
  bool folderSeen_ = false;          // the log folder existed once: a missing one is a failure
  long long writtenSinceCheck_ = 0;  // lines written since the file was last found in place
  long long unwritten_ = 0;          // lines that could not be written, not yet reported
  std::string unwrittenReason_;      // GBK, the first failure's reason
};

}  // namespace aqled
