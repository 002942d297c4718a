#pragma once
// Shared seams for the tests: a log that records, a clock that only moves when told, GBK
// literals written as UTF-8 in the source.

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "logging/operation_log.h"
#include "text/datetime.h"
#include "text/gbk.h"

namespace aqled::testing {

// Runs the event loop until `done` holds or `ms` pass; returns `done()`. Every test that waits
// for an event waits here. (The QTRY_ macros of Qt Test report to Qt Test, not to GoogleTest.)
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < ms) {
    // Sleeps in the event loop instead of spinning, so a peer process gets the CPU.
    QEventLoop loop;
    QTimer::singleShot(2, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return done();
}

// A UTF-8 literal of the test source as the GBK bytes the system holds.
inline std::string G(const char* utf8) { return Utf8ToGbk(utf8); }
// GBK bytes back to UTF-8, for readable failure messages and comparisons.
inline std::string U(const std::string& gbk) { return GbkToUtf8(gbk); }

// The whole content of a file; empty when it cannot be read.
inline std::string ReadBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
inline void WriteBytes(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}
// The same for paths held as GBK text, as the system holds them.
inline std::string ReadFile(const std::string& gbkPath) { return ReadBytes(PathFromGbk(gbkPath)); }
inline void WriteFile(const std::string& gbkPath, const std::string& bytes) {
  WriteBytes(PathFromGbk(gbkPath), bytes);
}
inline bool Exists(const std::string& gbkPath) { return std::filesystem::exists(PathFromGbk(gbkPath)); }

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
  // How many lines read exactly `utf8Line`, and how many begin with `prefix`.
  int Count(const std::string& utf8Line) const {
    int n = 0;
    for (const auto& l : lines) n += U(l.text) == utf8Line;
    return n;
  }
  int CountPrefix(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : lines) n += U(l.text).rfind(prefix, 0) == 0;
    return n;
  }
  std::vector<LogLine> lines;
};

// Time stands still until a test moves it.
class FakeClock : public Clock {
 public:
  explicit FakeClock(QDateTime start = QDateTime(QDate(2024, 3, 5), QTime(8, 5, 9, 42))) : now_(start) {}
  QDateTime Now() const override { return now_; }
  void Set(const QDateTime& t) { now_ = t; }
  void Advance(qint64 ms) { now_ = now_.addMSecs(ms); }

 private:
  QDateTime now_;
};

}  // namespace aqled::testing
