#include "logging/operation_log.h"

#include <cstdio>
#include <system_error>

namespace aqled {

Rgb ColourOfKind(int kind) {
  switch (kind) {
    case kLogError:
      return {255, 0, 0};
    case kLogSent:
      return {0, 255, 0};
    case kLogInfo:
      return {255, 255, 0};
    default:
      return {255, 255, 255};
  }
}

std::string DailyLogFileName(const QDate& date) {
  return "Log" + FormatDateTime("YYYMMDD", QDateTime(date, QTime(0, 0))) + ".txt";
}

OperationLog::OperationLog(std::filesystem::path logFolder, Clock& clock, LogScreen* screen)
    : logFolder_(std::move(logFolder)), clock_(clock), screen_(screen) {}

void OperationLog::AppendLog(int kind, const std::string& text) {
  const QDateTime now = clock_.Now();
  if (screen_) {
    if (screen_->LineCount() > 200) screen_->Clear();
    screen_->AppendLine(FormatDateTime("hh:nn:ss:zzz ", now) + " " + text, ColourOfKind(kind));
  }

  const QDate today = now.date();
  std::error_code ec;
  const std::filesystem::path file = logFolder_ / DailyLogFileName(today);
  if (today != lastLogDate_) {
    lastLogDate_ = today;
    if (std::filesystem::is_directory(logFolder_, ec)) {
      std::filesystem::remove(logFolder_ / DailyLogFileName(today.addDays(-5)), ec);
    }
  }
  if (!std::filesystem::is_directory(logFolder_, ec)) return;

  const std::string line = FormatDateTime("hh:nn:ss:zzz ", clock_.Now()) + text + "\r\n";
  if (std::FILE* f = std::fopen(file.c_str(), "ab")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
}

}  // namespace aqled
