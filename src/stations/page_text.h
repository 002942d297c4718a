#pragma once
// From the body bytes of a station page to the one-line page text that ExtractReadings cuts.

#include <string>
#include <string_view>

namespace aqled {

// The body decoded as UTF-8 and converted to GBK with the strict rule of Utf8ToGbk: a body
// that is not well-formed UTF-8 gives an empty text; characters GBK lacks become "?".
std::string DecodePageBody(std::string_view body);

// The lines of a GBK text (ended by CR LF, a lone CR or a lone LF, of any length), each
// trimmed of bytes 0 to 32 and joined with nothing between them.
std::string JoinTrimmedLines(std::string_view text);

// JoinTrimmedLines(DecodePageBody(body)).
std::string PageTextFromBody(std::string_view body);

}  // namespace aqled
