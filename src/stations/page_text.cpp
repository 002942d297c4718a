#include "stations/page_text.h"

#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {

std::string DecodePageBody(std::string_view body) { return Utf8ToGbk(body); }

std::string JoinTrimmedLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  // Line by line in place: a page is not copied into a list of its lines first.
  size_t start = 0;
  while (start < text.size()) {
    size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') ++end;
    std::string_view line = text.substr(start, end - start);
    while (!line.empty() && static_cast<unsigned char>(line.front()) <= 32) line.remove_prefix(1);
    while (!line.empty() && static_cast<unsigned char>(line.back()) <= 32) line.remove_suffix(1);
    out += line;
    start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  return out;
}

std::string PageTextFromBody(std::string_view body) { return JoinTrimmedLines(DecodePageBody(body)); }

}  // namespace aqled
