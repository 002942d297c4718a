#include "stations/page_text.h"

#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string DecodePageBody(std::string_view body) { return Utf8ToGbk(body); }

std::string JoinTrimmedLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const std::string& line : SplitLines(text)) out += Trim(line);
  return out;
}

std::string PageTextFromBody(std::string_view body) { return JoinTrimmedLines(DecodePageBody(body)); }

}  // namespace aqled
