#pragma once
// The clock seam and the date/time patterns of the system.

#include <QDateTime>
#include <string>
#include <string_view>

namespace aqled {

// Local time. Tests replace it to move time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual QDateTime Now() const = 0;
  // The same instant in milliseconds since the epoch, for measuring time-outs and windows:
  // local time asks the C library for the time zone, which looks at the zone file each time,
  // far too dear for what every received frame is timed by.
  virtual qint64 Millis() const { return Now().toMSecsSinceEpoch(); }
};

class SystemClock : public Clock {
 public:
  QDateTime Now() const override;
  qint64 Millis() const override;
};

// Formats a local date/time with the system's patterns; letters are matched without regard
// to case: a run of three or more "y" gives the four-digit year, "yy" two digits; "mm" the
// month (minutes when it follows "hh"), "dd" the day, "dddd" the Chinese weekday name
// (星期一 … 星期日); "hh" hours 00-23, "nn" minutes, "ss" seconds, "zzz" milliseconds;
// ":" is the time separator ":"; every other character stands for itself. Single letters
// give the number without padding. The result is GBK.
std::string FormatDateTime(std::string_view pattern, const QDateTime& when);

}  // namespace aqled
