#pragma once
// Byte-string helpers over GBK text. Positions are bytes; only ASCII letters change case.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace aqled {

// Removes every byte with a value from 0 to 32 from both ends, and only from the ends.
std::string Trim(std::string_view text);

// ASCII letters a-z / A-Z only; GBK bytes and everything else stay as they are.
std::string UpperAscii(std::string_view text);
std::string LowerAscii(std::string_view text);
char LowerAscii(char c);

// The value of a text of ASCII digits only (no sign, no blank); nullopt for an empty text or
// any other byte. A value past the largest 64-bit one is that largest value (it saturates).
std::optional<std::uint64_t> ParseDecimal(std::string_view digits);

// True for the first byte of a double-byte GBK character (0x81 to 0xFE).
bool IsGbkLead(unsigned char b);

// The longest front of a GBK text of at most `maxBytes` bytes that ends on a character
// boundary: a double-byte character that does not fit whole is left out.
std::string_view CutGbk(std::string_view gbk, std::size_t maxBytes);

// Replaces the first occurrence of `what` (compared with case); the text is unchanged when
// `what` does not occur.
std::string ReplaceFirst(std::string_view text, std::string_view what, std::string_view with);

// One argument of Format: a text or an integer.
using FormatArg = std::variant<std::string_view, long long>;

// The system's Format: "%s" takes a text, "%d" an integer in decimal, "%.3d" an integer with
// at least three digits (zero-padded), "%%" is a percent sign. Arguments are used in order;
// a directive without an argument, or of the wrong kind, is left as it stands.
std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args);

// A GBK text from outside as it goes into a log line (or another bounded view): unchanged up
// to `maxBytes` bytes; longer, its first `maxBytes` bytes (a double-byte character that does
// not fit whole is left out) followed by "…(共 N 字节)", N being the text's full length.
std::string CutGbkText(std::string_view gbk, std::size_t maxBytes);

// The file name of a path: the text after the last "\", "/" or ":"; the whole path when it
// has none. The second byte of a double-byte GBK character is never a separator.
std::string FileNameOf(std::string_view path);

// The extension of a path, lower-cased (ASCII): from the last "." that stands after the last
// "\", "/" or ":", the dot included; empty when there is none.
std::string ExtensionOf(std::string_view path);

// Splits a text into lines at CR LF, a lone CR or a lone LF. A line break at the very end
// adds no empty line; an empty text has no lines.
std::vector<std::string> SplitLines(std::string_view text);

// Sets a flag for the life of a scope and clears it when the scope ends, also by an exception.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace aqled
