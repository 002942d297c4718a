#include "stations/extract.h"

#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

constexpr std::string_view kRowStart = "<tr>";
constexpr std::string_view kRowEnd = "</tr>";
constexpr std::string_view kSpanEnd = "</span>";
constexpr std::string_view kCellEnd = "</td>";
constexpr std::string_view kBeforeTime = "</p3>";

std::string StripTags(std::string text, int count) {
  for (int i = 0; i < count; ++i) text = StripFirstTag(text);
  return text;
}

}  // namespace

std::string TextBetween(std::string_view text, std::string_view start, std::string_view end) {
  const size_t found = text.find(start);
  // A missing start marker counts as position 0 (positions count from 1), so the rest begins
  // at byte length(start), i.e. offset length(start) - 1.
  size_t from =
      found == std::string_view::npos ? (start.empty() ? 0 : start.size() - 1) : found + start.size();
  if (from > text.size()) from = text.size();
  const std::string_view rest = text.substr(from);
  const size_t stop = rest.find(end);
  if (stop == std::string_view::npos) return {};
  return Trim(rest.substr(0, stop));
}

std::string StripFirstTag(std::string_view text) {
  const size_t open = text.find('<');
  const size_t close = text.find('>');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return Trim(text);
  }
  std::string out(text.substr(0, open));
  out.append(text.substr(close + 1));
  return Trim(out);
}

std::string CellText(std::string_view text) {
  const size_t end = text.find(kCellEnd);
  if (end == std::string_view::npos) return {};
  return Trim(text.substr(0, end));
}

std::string SkipToCellEnd(std::string_view text) {
  const size_t end = text.find(kCellEnd);
  if (end == std::string_view::npos) return std::string(text);
  return std::string(text.substr(end));
}

std::optional<QDateTime> ParsePublishTime(std::string_view text) {
  const QString trimmed = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())).trimmed();
  for (const char* format : {"yyyy-M-d H:mm", "yyyy-M-d H:mm:ss"}) {
    const QDateTime when = QDateTime::fromString(trimmed, QString::fromLatin1(format));
    if (when.isValid()) return when;
  }
  return std::nullopt;
}

PageReadings ExtractReadings(std::string_view pageText) {
  PageReadings out;

  // The page's first row: five tags, a label and "</span>", then one tag and the level.
  std::string w = StripTags(TextBetween(pageText, kRowStart, kRowEnd), 5);
  w = TextBetween(w, kSpanEnd, kSpanEnd);
  out.level = StripFirstTag(w);

  // The real-time block: the publish time after "</p3>", then the block's first row with
  // negative ions (after four tags), PM2.5 and ozone (each after seven tags, the "</td>" of
  // the value before being the first of them).
  const std::string block = TextBetween(pageText, Gbk<"实时数据">(), Gbk<"日均值">());
  out.publishTime = StripFirstTag(TextBetween(block, kBeforeTime, kSpanEnd));

  w = StripTags(TextBetween(block, kRowStart, kRowEnd), 4);
  out.negativeIons = CellText(w);
  w = StripTags(SkipToCellEnd(w), 7);
  out.pm25 = CellText(w);
  w = StripTags(SkipToCellEnd(w), 7);
  out.ozone = CellText(w);
  return out;
}

}  // namespace aqled
