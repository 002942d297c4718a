#pragma once
// The operation log: every subsystem reports through LogSink::AppendLog. OperationLog puts
// each line on the screen (through LogScreen) and appends it to the daily file in LogFolder.

#include <QDate>
#include <filesystem>
#include <string>

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

// What every subsystem writes to. Never reports a failure to its caller.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void AppendLog(int kind, const std::string& text) = 0;
};

// The on-screen log control as the log sees it.
class LogScreen {
 public:
  virtual ~LogScreen() = default;
  virtual int LineCount() const = 0;
  virtual void Clear() = 0;
  // Appends one line in the colour (the control sets its font to 宋体 8 points first) and
  // scrolls it into view.
  virtual void AppendLine(const std::string& gbkLine, Rgb colour) = 0;
};

// "Log" + YYYYMMDD + ".txt".
std::string DailyLogFileName(const QDate& date);

class OperationLog : public LogSink {
 public:
  // `logFolder` is never created; files are written only while it exists. The clock and the
  // screen are borrowed and must outlive the log; `screen` may be null.
  OperationLog(std::filesystem::path logFolder, Clock& clock, LogScreen* screen);

  // The day of the last housekeeping; start-up sets it to today.
  void SetLastLogDate(const QDate& date) { lastLogDate_ = date; }
  QDate LastLogDate() const { return lastLogDate_; }

  // Screen line "hh:nn:ss:zzz " + " " + text (the control is emptied first when it already
  // holds more than 200 lines); file line "hh:nn:ss:zzz " + text + CR LF, GBK as given.
  // On the first call of a later day, deletes the file of five days before. File errors are
  // swallowed.
  void AppendLog(int kind, const std::string& text) override;

 private:
  std::filesystem::path logFolder_;
  Clock& clock_;
  LogScreen* screen_;
  QDate lastLogDate_;
};

}  // namespace aqled
