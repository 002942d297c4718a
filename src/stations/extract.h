#pragma once
// Cutting a station's readings out of its page text. The page is not parsed as HTML: the
// readings are found by fixed markers and by removing the first tag a fixed number of times,
// which fits the one layout of the data site's pages. All positions are bytes of GBK text.

#include <QDateTime>
#include <optional>
#include <string>
#include <string_view>

#include "stations/readings.h"

namespace aqled {

// The five texts cut from one page; each may be empty, none is absent.
struct PageReadings {
  std::string level;
  std::string negativeIons;
  std::string pm25;
  std::string ozone;
  std::string publishTime;  // logged, then dropped

  Dtstr ToDtstr() const { return Dtstr{pm25, ozone, negativeIons, level}; }
  bool operator==(const PageReadings&) const = default;
};

// The text after the first `start` up to the first `end` after it, trimmed; empty when `end`
// does not follow. When `start` does not occur the search for `end` begins at byte
// length(start) (counted from 1), so the first length(start) - 1 bytes are skipped and the
// rest of the text still yields a value.
std::string TextBetween(std::string_view text, std::string_view start, std::string_view end);

// Removes the first tag (from the first "<" to the first ">", both included) wherever it
// stands, then trims. Nothing is removed when there is no "<", no ">", or the first ">"
// stands before the first "<".
std::string StripFirstTag(std::string_view text);

// The text before its first "</td>", trimmed; empty when there is no "</td>".
std::string CellText(std::string_view text);

// The text from its first "</td>" (included) to the end; unchanged when there is no "</td>".
std::string SkipToCellEnd(std::string_view text);

// A publish time "yyyy-mm-dd hh:nn" (seconds ":ss" allowed; month, day and hour may lack their
// leading zero), blanks around it ignored, read as local time. Nothing for any other text.
std::optional<QDateTime> ParsePublishTime(std::string_view text);

// Cuts level, negative ions, PM2.5, ozone and publish time out of a page text (the page's
// lines trimmed and joined). Never fails and has no side effects; a page of another layout
// yields wrong or empty texts.
PageReadings ExtractReadings(std::string_view pageText);

}  // namespace aqled
