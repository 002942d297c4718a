#include "settings/ini_file.h"

#include <charconv>
#include <cstdint>

#include "settings/file_io.h"
#include "text/strings.h"

namespace aqled {
namespace {

constexpr size_t npos = std::string::npos;

// A UTF-8 byte-order mark that an editor may have put before the first line is ignored when
// the line is interpreted (it stays in the file).
std::string_view WithoutBom(std::string_view line, size_t index) {
  if (index == 0 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
  return line;
}

// The section name of a header line "[name]", or nullopt for any other line.
std::optional<std::string> SectionName(std::string_view line) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] != '[') return std::nullopt;
  const size_t close = t.find(']');
  return Trim(std::string_view(t).substr(1, close == npos ? npos : close - 1));
}

// Splits a key line at its first "=": key and raw value; nullopt for comments and lines
// without "=".
std::optional<std::pair<std::string, std::string_view>> KeyLine(std::string_view line) {
  const std::string t = Trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '[') return std::nullopt;
  const size_t eq = line.find('=');
  if (eq == npos) return std::nullopt;
  return std::make_pair(Trim(line.substr(0, eq)), line.substr(eq + 1));
}

}  // namespace

std::optional<int> ParseIniInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && text[0] == '$') {
    base = 16;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (base == 16) {
    if (magnitude > 0xFFFFFFFFull) return std::nullopt;
    const auto bits = static_cast<std::uint32_t>(negative ? 0u - static_cast<std::uint32_t>(magnitude)
                                                          : static_cast<std::uint32_t>(magnitude));
    return static_cast<int>(static_cast<std::int32_t>(bits));
  }
  // The range is checked on the magnitude, before any negation: -2^63 has no positive twin.
  if (magnitude > (negative ? 0x80000000ull : 0x7FFFFFFFull)) return std::nullopt;
  const auto value = static_cast<std::int64_t>(magnitude);
  return static_cast<int>(negative ? -value : value);
}

bool SameIniName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (IsGbkLead(static_cast<unsigned char>(a[i]))) {
      if (a[i] != b[i]) return false;
      if (i + 1 < a.size()) {
        ++i;
        if (a[i] != b[i]) return false;
      }
      continue;
    }
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

IniFile::IniFile(std::string_view bytes) {
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find_first_of("\r\n", start);
    if (end == npos) {
      lines_.push_back({std::string(bytes.substr(start)), ""});
      break;
    }
    const size_t eolLength = (bytes[end] == '\r' && end + 1 < bytes.size() && bytes[end + 1] == '\n') ? 2 : 1;
    lines_.push_back(
        {std::string(bytes.substr(start, end - start)), std::string(bytes.substr(end, eolLength))});
    start = end + eolLength;
  }
}

IniFile::LoadResult IniFile::Load(const std::filesystem::path& file) {
  LoadResult result;
  std::error_code ec;
  result.exists = std::filesystem::exists(file, ec);
  if (!result.exists) return result;
  if (auto bytes = ReadFileWhole(file, kMaxSettingsFileBytes)) {
    result.ini = IniFile(*bytes);
    result.readable = true;
  }
  return result;
}

size_t IniFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto name = SectionName(WithoutBom(lines_[i].text, i));
    if (name && SameIniName(*name, section)) return i;
  }
  return npos;
}

size_t IniFile::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
  return i;
}

size_t IniFile::FindKey(size_t header, std::string_view key) const {
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    const auto kv = KeyLine(lines_[i].text);
    if (kv && SameIniName(kv->first, key)) return i;
  }
  return npos;
}

std::optional<std::string> IniFile::Value(std::string_view section, std::string_view key) const {
  const size_t header = FindSection(section);
  if (header == npos) return std::nullopt;
  const size_t line = FindKey(header, key);
  if (line == npos) return std::nullopt;
  return std::string(CutGbk(Trim(KeyLine(lines_[line].text)->second), kIniValueLimit));
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view fallback) const {
  auto v = Value(section, key);
  return v ? *v : std::string(fallback);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
  const auto v = Value(section, key);
  if (!v) return fallback;
  return ParseIniInteger(*v).value_or(fallback);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::string text = std::string(key) + "=" + std::string(value);
  for (char& c : text)
    if (c == '\r' || c == '\n') c = ' ';

  const size_t header = FindSection(section);
  if (header == npos) {
    if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = "\r\n";
    if (!lines_.empty()) lines_.push_back({"", "\r\n"});
    lines_.push_back({"[" + std::string(section) + "]", "\r\n"});
    lines_.push_back({text, "\r\n"});
    return;
  }
  const size_t line = FindKey(header, key);
  if (line != npos) {
    lines_[line].text = text;
    return;
  }
  size_t at = SectionEnd(header);
  while (at > header + 1 && Trim(lines_[at - 1].text).empty()) --at;
  if (lines_[at - 1].eol.empty()) lines_[at - 1].eol = "\r\n";
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{text, "\r\n"});
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

std::string IniFile::Bytes() const {
  std::string out;
  for (const Line& l : lines_) {
    out += l.text;
    out += l.eol;
  }
  return out;
}

}  // namespace aqled
