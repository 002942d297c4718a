#pragma once
// Shared seams for the tests: a log that records, a clock that only moves when told, GBK
// literals written as UTF-8 in the source.

#include "logging/operation_log.h"
#include "text/datetime.h"
#include "text/gbk.h"

#include <QDateTime>

#include <string>
#include <vector>

namespace aqled::testing {

// A UTF-8 literal of the test source as the GBK bytes the system holds.
inline std::string G(const char* utf8) { return Utf8ToGbk(utf8); }
// GBK bytes back to UTF-8, for readable failure messages and comparisons.
inline std::string U(const std::string& gbk) { return GbkToUtf8(gbk); }

struct LogLine {
  int kind;
  std::string text;  // GBK
};

class RecordingLog : public LogSink {
 public:
  void AppendLog(int kind, const std::string& text) override { lines.push_back({kind, text}); }
  // The texts as UTF-8, in order.
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(U(l.text));
    return out;
  }
  std::vector<LogLine> lines;
};

// Time stands still until a test moves it; Sleep moves it by the requested time.
class FakeClock : public Clock {
 public:
  explicit FakeClock(QDateTime start = QDateTime(QDate(2024, 3, 5), QTime(8, 5, 9, 42)))
      : now_(start) {}
  QDateTime Now() const override { return now_; }
  void Sleep(int ms) override {
    slept_ms += ms;
    now_ = now_.addMSecs(ms);
  }
  void Set(const QDateTime& t) { now_ = t; }
  void Advance(qint64 ms) { now_ = now_.addMSecs(ms); }
  long long slept_ms = 0;

 private:
  QDateTime now_;
};

}  // namespace aqled::testing
