#pragma once
// INI files over GBK bytes: the reading rules shared by config.ini and setup.ini, and a writer
// that changes only the lines it writes, so every other section, key, comment and damaged line
// survives a save byte for byte.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace aqled {

// Longest value text the reader returns, in bytes.
inline constexpr size_t kIniValueLimit = 2047;

// Parses an integer the way the settings files store it: optional "+" or "-", then decimal
// digits, or hexadecimal digits after "0x", "0X" or "$". Anything else (empty, letters, a
// fraction, a number outside 32 bits) gives nullopt. Hexadecimal up to 0xFFFFFFFF wraps into
// the negative range, as settings files written with unsigned colour words expect.
std::optional<int> ParseIniInteger(std::string_view text);

// Compares two GBK names without regard to the case of ASCII letters; the trail byte of a
// double-byte character is compared exactly, so two different characters never match.
bool SameIniName(std::string_view a, std::string_view b);

class IniFile {
 public:
  IniFile() = default;
  // Takes the bytes of a file as they are; nothing is rejected.
  explicit IniFile(std::string_view bytes);

  // Reads a file whole. A missing file gives an empty IniFile with `exists` false; a file that
  // exists but cannot be read gives an empty IniFile with `readable` false.
  struct LoadResult;
  static LoadResult Load(const std::filesystem::path& file);

  // The value of the first key `key` in the first section `section` (names matched by
  // SameIniName), trimmed of bytes 0..32 at both ends and cut to kIniValueLimit bytes (a
  // double-byte character the cut would split is dropped whole); nullopt when either is missing.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;

  // Value, or `fallback` when the key is missing.
  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
  // The value parsed by ParseIniInteger, or `fallback` when the key is missing or malformed.
  int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
  // ReadInteger(..., fallback ? 1 : 0) != 0.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;

  // Sets `key` = `value`: replaces the line of the key when it exists, otherwise adds a line
  // after the last non-blank line of the section, otherwise appends the section at the end.
  // Line breaks inside `value` become blanks. New lines end in CR LF.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);

  // The whole file as bytes: untouched lines exactly as they were read.
  std::string Bytes() const;

 private:
  struct Line {
    std::string text;  // without its line break
    std::string eol;   // "\r\n", "\n", "\r" or empty (last line without a break)
  };
  // Index of the header line of the first section named `section`, or npos.
  size_t FindSection(std::string_view section) const;
  // Index of the first line of `key` inside the section starting at `header`, or npos.
  size_t FindKey(size_t header, std::string_view key) const;
  // One past the last line of the section starting at `header`.
  size_t SectionEnd(size_t header) const;

  std::vector<Line> lines_;
};

struct IniFile::LoadResult {
  IniFile ini;
  bool exists = false;
  bool readable = false;
};

}  // namespace aqled
