#include "text/datetime.h"

#include <array>

#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

QDateTime SystemClock::Now() const { return QDateTime::currentDateTime(); }
qint64 SystemClock::Millis() const { return QDateTime::currentMSecsSinceEpoch(); }

namespace {

std::string Padded(int value, size_t width) {
  std::string s = std::to_string(value);
  if (s.size() < width) s.insert(0, width - s.size(), '0');
  return s;
}

// The weekday names in GBK, Monday first (Qt's dayOfWeek: 1 = Monday).
const std::string& Weekday(int dayOfWeek) {
  static const std::array<std::string, 7> names = {Gbk<"星期一">(), Gbk<"星期二">(), Gbk<"星期三">(),
                                                   Gbk<"星期四">(), Gbk<"星期五">(), Gbk<"星期六">(),
                                                   Gbk<"星期日">()};
  return names[static_cast<size_t>(dayOfWeek - 1)];
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, const QDateTime& when) {
  const QDate d = when.date();
  const QTime t = when.time();
  std::string out;
  bool afterHour = false;
  for (size_t i = 0; i < pattern.size();) {
    const char c = LowerAscii(pattern[i]);
    size_t run = 1;
    while (i + run < pattern.size() && LowerAscii(pattern[i + run]) == c) ++run;
    switch (c) {
      case 'y':
        out += run >= 3   ? Padded(d.year(), 4)
               : run == 2 ? Padded(d.year() % 100, 2)
                          : std::to_string(d.year() % 100);
        break;
      case 'm':
        if (afterHour) {
          out += run >= 2 ? Padded(t.minute(), 2) : std::to_string(t.minute());
        } else {
          out += run >= 2 ? Padded(d.month(), 2) : std::to_string(d.month());
        }
        break;
      case 'd':
        if (run >= 4) {
          out += Weekday(d.dayOfWeek());
        } else {
          out += run >= 2 ? Padded(d.day(), 2) : std::to_string(d.day());
        }
        break;
      case 'h':
        out += run >= 2 ? Padded(t.hour(), 2) : std::to_string(t.hour());
        break;
      case 'n':
        out += run >= 2 ? Padded(t.minute(), 2) : std::to_string(t.minute());
        break;
      case 's':
        out += run >= 2 ? Padded(t.second(), 2) : std::to_string(t.second());
        break;
      case 'z':
        out += run >= 3 ? Padded(t.msec(), 3) : std::to_string(t.msec());
        break;
      default:
        out.append(pattern.substr(i, run));
        break;
    }
    if (c == 'h')
      afterHour = true;
    else if (c != ':' && c != 'm' && c != ' ')
      afterHour = false;
    i += run;
  }
  return out;
}

}  // namespace aqled
