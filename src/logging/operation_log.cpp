#include "logging/operation_log.h"

#include <system_error>

#include "logging/limits.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

const std::string& FoldedHeartbeatPattern() { return Gbk<"%s 收到心跳 ×%d, 最后 %s">(); }

const std::string& UnwrittenPattern() { return Gbk<"%d 行日志未能写入文件 (%s)">(); }

}  // namespace

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

std::optional<QDate> DateOfDailyLogFile(const std::string& fileName) {
  if (fileName.size() != 15 || fileName.compare(0, 3, "Log") != 0 || fileName.compare(11, 4, ".txt") != 0) {
    return std::nullopt;
  }
  const std::string_view name = fileName;
  const std::optional<std::uint64_t> year = ParseDecimal(name.substr(3, 4));
  const std::optional<std::uint64_t> month = ParseDecimal(name.substr(7, 2));
  const std::optional<std::uint64_t> day = ParseDecimal(name.substr(9, 2));
  if (!year || !month || !day) return std::nullopt;
  const QDate date(static_cast<int>(*year), static_cast<int>(*month), static_cast<int>(*day));
  if (!date.isValid()) return std::nullopt;
  return date;
}

OperationLog::OperationLog(std::filesystem::path logFolder, Clock& clock, LogScreen* screen)
    : logFolder_(std::move(logFolder)), clock_(clock), screen_(screen) {
  batchTimer_.setSingleShot(true);
  batchTimer_.setInterval(kScreenBatchMs);
  batchTimer_.callOnTimeout([this] { FlushBatch(); });
  if (screen_) screen_->SetPendingFlush([this] { ShowPending(); });
}

OperationLog::~OperationLog() {
  batchTimer_.stop();
  ShowPending();
  if (screen_) screen_->SetPendingFlush({});
  file_.close();
}

void OperationLog::Housekeep(const QDate& today) {
  lastLogDate_ = today;
  std::error_code ec;
  std::vector<std::filesystem::path> old;
  for (std::filesystem::directory_iterator it(logFolder_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::optional<QDate> day = DateOfDailyLogFile(it->path().filename().string());
    std::error_code typeError;
    if (day && day->daysTo(today) >= kDailyLogDays && !it->is_directory(typeError)) old.push_back(it->path());
  }
  for (const std::filesystem::path& file : old) std::filesystem::remove(file, ec);
}

void OperationLog::AppendLog(int kind, const std::string& text) {
  const QDateTime now = clock_.Now();
  const std::string stamp = FormatDateTime("hh:nn:ss:zzz ", now);
  run_.reset();
  Remember({stamp + " " + text, ColourOfKind(kind)}, false);
  if (screen_) GatherLine({stamp + " " + text, ColourOfKind(kind)});
  WriteFileLine(now, stamp + text + "\r\n");
  ArmBatch();
}

void OperationLog::AppendHeartbeat(const std::string& text, const HeartbeatSource& source) {
  const QDateTime now = clock_.Now();
  const std::string stamp = FormatDateTime("hh:nn:ss:zzz ", now);
  if (screen_ && run_ && run_->source == source) {
    ++run_->count;
    ScreenLine folded{
        run_->firstStamp + " " +
            Format(FoldedHeartbeatPattern(), {source.label, run_->count, FormatDateTime("hh:nn:ss", now)}),
        ColourOfKind(kLogInfo)};
    Remember(folded, true);
    // Nothing was logged after the run's line: it is the last gathered one, or the last shown.
    if (!pending_.empty()) {
      pending_.back() = std::move(folded);
    } else {
      replaceLast_ = std::move(folded);
    }
  } else {
    Remember({stamp + " " + text, ColourOfKind(kLogInfo)}, false);
    if (screen_) GatherLine({stamp + " " + text, ColourOfKind(kLogInfo)});
    run_ = HeartbeatRun{source, stamp, 1};
  }
  WriteFileLine(now, stamp + text + "\r\n");
  ArmBatch();
}

void OperationLog::FlushBatch() {
  ShowPending();
  // A file removed while it is open takes the lines written into it since the last look.
  std::error_code ec;
  if (file_.isOpen() && !std::filesystem::exists(logFolder_ / DailyLogFileName(fileDay_), ec)) {
    file_.close();
    CountUnwritten(writtenSinceCheck_, Gbk<"日志文件已被移走或删除">());
  }
  writtenSinceCheck_ = 0;
}

void OperationLog::Remember(const ScreenLine& line, bool replace) {
  if (replace && !recent_.empty()) {
    recent_.back() = line;
    return;
  }
  recent_.push_back(line);
  if (recent_.size() > static_cast<size_t>(kRecentScreenLines)) recent_.pop_front();
}

void OperationLog::GatherLine(ScreenLine line) {
  if (pending_.empty() && !clearFirst_) {
    // A batch begins: the control holds what it shows, plus the line a replacement adds to an
    // emptied control.
    const int held = screen_->HeldLines();
    linesAfterBatch_ = held + (replaceLast_ && held == 0 ? 1 : 0);
  }
  // The 200-line rule line by line; lines that an emptying would take off are never shown.
  if (linesAfterBatch_ > kScreenLinesBeforeClear) {
    clearFirst_ = true;
    pending_.clear();
    replaceLast_.reset();
    linesAfterBatch_ = 0;
  }
  pending_.push_back(std::move(line));
  ++linesAfterBatch_;
}

void OperationLog::ShowPending() {
  if (!screen_ || flushing_) return;
  FlagScope flushing(flushing_);
  if (replaceLast_) {
    const ScreenLine line = std::move(*replaceLast_);
    replaceLast_.reset();
    screen_->ReplaceLastLine(line);
  }
  if (clearFirst_) {
    clearFirst_ = false;
    screen_->ClearLines();
  }
  if (!pending_.empty()) {
    std::vector<ScreenLine> lines;
    lines.swap(pending_);
    screen_->AppendLines(lines);
  }
}

void OperationLog::ArmBatch() {
  if (!batchTimer_.isActive()) batchTimer_.start();
}

bool OperationLog::OpenFile(const QDate& day) {
  std::error_code ec;
  if (!std::filesystem::is_directory(logFolder_, ec)) {
    // Without the folder there is no file log; a folder that has gone loses lines.
    if (folderSeen_) CountUnwritten(1, Gbk<"日志文件夹不存在">());
    return false;
  }
  folderSeen_ = true;
  file_.setFileName(logFolder_ / DailyLogFileName(day));
  // Unbuffered: each line goes to the system in the call that logs it, so it survives a crash.
  if (!file_.open(QIODevice::Append | QIODevice::Unbuffered)) {
    CountUnwritten(1, FromQString(file_.errorString()));
    return false;
  }
  fileDay_ = day;
  fileSize_ = file_.size();
  return true;
}

void OperationLog::WriteFileLine(const QDateTime& now, const std::string& line) {
  const QDate today = now.date();
  if (today != lastLogDate_) Housekeep(today);
  if (file_.isOpen() && fileDay_ != today) file_.close();
  if (!file_.isOpen() && !OpenFile(today)) return;

  const qint64 size = static_cast<qint64>(line.size());
  qint64 written = file_.write(line.data(), size);
  if (written >= 0 && written < size) {
    // A short write gives no reason; the rest is tried once more, which either completes the
    // line or fails with the cause.
    const qint64 more = file_.write(line.data() + written, size - written);
    if (more > 0) written += more;
  }
  if (written != size) {
    const std::string reason = FromQString(file_.errorString());
    // No piece of a line stays behind; the next line opens the file again.
    file_.resize(fileSize_);
    file_.close();
    CountUnwritten(1, reason);
    return;
  }
  fileSize_ += size;
  ++writtenSinceCheck_;
  if (unwritten_ == 0) return;

  const long long lost = unwritten_;
  const std::string reason = unwrittenReason_;
  unwritten_ = 0;
  unwrittenReason_.clear();
  AppendLog(kLogError, Format(UnwrittenPattern(), {lost, reason}));
  if (unwritten_ > 0) {
    // The report itself could not be written: it is made again, with these lines, later.
    unwritten_ += lost;
    unwrittenReason_ = reason;
  }
}

void OperationLog::CountUnwritten(long long lines, const std::string& gbkReason) {
  if (lines <= 0) return;
  if (unwritten_ == 0) unwrittenReason_ = gbkReason;
  unwritten_ += lines;
}

}  // namespace aqled
