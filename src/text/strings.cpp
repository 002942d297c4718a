#include "text/strings.h"

#include <limits>

#include "text/gbk.h"

namespace aqled {

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
  return std::string(text.substr(b, e - b));
}

bool IsGbkLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }

std::string_view CutGbk(std::string_view gbk, std::size_t maxBytes) {
  if (gbk.size() <= maxBytes) return gbk;
  std::size_t end = 0;
  while (end < maxBytes) {
    const std::size_t width = IsGbkLead(static_cast<unsigned char>(gbk[end])) ? 2 : 1;
    if (end + width > maxBytes) break;
    end += width;
  }
  return gbk.substr(0, end);
}

std::string CutGbkText(std::string_view gbk, std::size_t maxBytes) {
  if (gbk.size() <= maxBytes) return std::string(gbk);
  return std::string(CutGbk(gbk, maxBytes)) +
         Format(Gbk<"…(共 %d 字节)">(), {static_cast<long long>(gbk.size())});
}

std::optional<std::uint64_t> ParseDecimal(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto d = static_cast<std::uint64_t>(c - '0');
    value = value > (kMax - d) / 10 ? kMax : value * 10 + d;
  }
  return value;
}

std::string UpperAscii(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string s(text);
  for (char& c : s) c = LowerAscii(c);
  return s;
}

std::string ReplaceFirst(std::string_view text, std::string_view what, std::string_view with) {
  std::string s(text);
  if (what.empty()) return s;
  const size_t p = s.find(what);
  if (p != std::string::npos) s.replace(p, what.size(), with);
  return s;
}

std::string Format(std::string_view pattern, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c != '%' || i + 1 >= pattern.size()) {
      out.push_back(c);
      continue;
    }
    const std::string_view rest = pattern.substr(i + 1);
    if (rest[0] == '%') {
      out.push_back('%');
      ++i;
    } else if (rest[0] == 's' && next != args.end() && std::holds_alternative<std::string_view>(*next)) {
      out.append(std::get<std::string_view>(*next++));
      ++i;
    } else if (rest[0] == 'd' && next != args.end() && std::holds_alternative<long long>(*next)) {
      out.append(std::to_string(std::get<long long>(*next++)));
      ++i;
    } else if (rest.substr(0, 3) == ".3d" && next != args.end() && std::holds_alternative<long long>(*next)) {
      const long long v = std::get<long long>(*next++);
      std::string digits = std::to_string(v < 0 ? -v : v);
      if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
      if (v < 0) out.push_back('-');
      out.append(digits);
      i += 3;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

namespace {
// Position after the last "\", "/" or ":" that stands as a character of its own: the second
// byte of a GBK character (誠 is D5 5C) is never taken for a backslash.
size_t AfterLastSeparator(std::string_view path) {
  size_t after = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(path[i]);
    const unsigned char next = i + 1 < path.size() ? static_cast<unsigned char>(path[i + 1]) : 0;
    if (IsGbkLead(b) && next >= 0x40 && next <= 0xFE && next != 0x7F) {
      ++i;
    } else if (b == '\\' || b == '/' || b == ':') {
      after = i + 1;
    }
  }
  return after;
}
}  // namespace

std::string FileNameOf(std::string_view path) { return std::string(path.substr(AfterLastSeparator(path))); }

std::string ExtensionOf(std::string_view path) {
  const std::string_view name = path.substr(AfterLastSeparator(path));
  const size_t dot = name.rfind('.');
  return dot == std::string_view::npos ? std::string() : LowerAscii(name.substr(dot));
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

}  // namespace aqled
