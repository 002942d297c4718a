// Every Chinese system text is written as Gbk<"…">() of a UTF-8 literal, so a reader sees the
// text itself. These tests read the sources and check that each such text exists in GBK (it
// converts without loss and back to the same UTF-8), that none has slipped back in as hex-escaped
// GBK bytes, and that none is converted at each use by Utf8ToGbk("…").

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "text/gbk.h"

using namespace aqled;

namespace {

namespace fs = std::filesystem;

// A Gbk<"…">() whose argument is one plain string literal.
struct SystemText {
  int line = 0;
  std::string text;  // the literal's bytes, escapes resolved
};

// A string literal holding a byte of 0x80 or above written as an escape.
struct EscapedBytes {
  int line = 0;
};

struct ScanResult {
  std::vector<SystemText> texts;
  std::vector<EscapedBytes> escaped;
  std::vector<int> convertedAtEachUse;  // lines of Utf8ToGbk("…") calls
};

bool IsIdentifierChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A small reader of C++ source: comments, character literals and raw strings are skipped; each
// ordinary string literal is read with its escapes resolved.
class SourceScanner {
 public:
  explicit SourceScanner(std::string source) : s_(std::move(source)) {}

  ScanResult Scan() {
    ScanResult result;
    while (i_ < s_.size()) {
      const char c = s_[i_];
      if (c == '/' && Peek(1) == '/') {
        while (i_ < s_.size() && s_[i_] != '\n') ++i_;
      } else if (c == '/' && Peek(1) == '*') {
        const size_t end = s_.find("*/", i_ + 2);
        Advance(end == std::string::npos ? s_.size() - i_ : end + 2 - i_);
      } else if (c == '"') {
        const bool raw = i_ > 0 && s_[i_ - 1] == 'R';
        if (raw) {
          SkipRawString();
        } else {
          ReadLiteral(result);
        }
      } else if (c == '\'') {
        if (i_ > 0 && IsIdentifierChar(s_[i_ - 1])) {
          ++i_;  // a digit separator
        } else {
          SkipCharLiteral();
        }
      } else if (IsIdentifierChar(c)) {
        const size_t start = i_;
        while (i_ < s_.size() && IsIdentifierChar(s_[i_])) ++i_;
        const std::string_view name(s_.data() + start, i_ - start);
        if (name == "Gbk") ReadKeptText(result);
        if (name == "Utf8ToGbk") ReadCall(result);
      } else {
        Advance(1);
      }
    }
    return result;
  }

 private:
  char Peek(size_t ahead) const { return i_ + ahead < s_.size() ? s_[i_ + ahead] : '\0'; }

  void Advance(size_t n) {
    for (size_t k = 0; k < n && i_ < s_.size(); ++k, ++i_) {
      if (s_[i_] == '\n') ++line_;
    }
  }

  void SkipSpace() {
    while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) {
      Advance(1);
    }
  }

  // After the name Gbk: counts the text when its argument is a single plain literal.
  void ReadKeptText(ScanResult& result) {
    if (Peek(0) != '<') return;
    Advance(1);
    if (Peek(0) != '"') return;
    const int line = line_;
    const std::string text = ReadLiteral(result);
    if (Peek(0) == '>' && Peek(1) == '(' && Peek(2) == ')') result.texts.push_back({line, text});
  }

  // After the name Utf8ToGbk: notes the call when its argument starts with a plain literal.
  void ReadCall(ScanResult& result) {
    SkipSpace();
    if (Peek(0) != '(') return;
    Advance(1);
    SkipSpace();
    if (Peek(0) == '"') result.convertedAtEachUse.push_back(line_);
  }

  // Reads the ordinary string literal at i_; notes it when it escapes a byte of 0x80 or above.
  std::string ReadLiteral(ScanResult& result) {
    const int line = line_;
    bool highEscape = false;
    std::string value;
    Advance(1);
    while (i_ < s_.size() && s_[i_] != '"' && s_[i_] != '\n') {
      if (s_[i_] != '\\') {
        value += s_[i_];
        Advance(1);
        continue;
      }
      const char e = Peek(1);
      Advance(2);
      if (e == 'x') {
        int byte = 0;
        while (i_ < s_.size() && HexValue(s_[i_]) >= 0) {
          byte = byte * 16 + HexValue(s_[i_]);
          Advance(1);
        }
        highEscape = highEscape || byte >= 0x80;
        value += static_cast<char>(byte);
      } else if (e >= '0' && e <= '7') {
        int byte = e - '0';
        for (int k = 0; k < 2 && Peek(0) >= '0' && Peek(0) <= '7'; ++k) {
          byte = byte * 8 + (Peek(0) - '0');
          Advance(1);
        }
        highEscape = highEscape || byte >= 0x80;
        value += static_cast<char>(byte);
      } else if (e == 'n') {
        value += '\n';
      } else if (e == 't') {
        value += '\t';
      } else if (e == 'r') {
        value += '\r';
      } else {
        value += e;  // \" \\ \' \?
      }
    }
    Advance(1);  // the closing quote
    if (highEscape) result.escaped.push_back({line});
    return value;
  }

  void SkipRawString() {
    const size_t open = s_.find('(', i_);
    if (open == std::string::npos) {
      Advance(s_.size() - i_);
      return;
    }
    const std::string closing = ")" + s_.substr(i_ + 1, open - i_ - 1) + "\"";
    const size_t end = s_.find(closing, open);
    Advance(end == std::string::npos ? s_.size() - i_ : end + closing.size() - i_);
  }

  void SkipCharLiteral() {
    Advance(1);
    while (i_ < s_.size() && s_[i_] != '\'' && s_[i_] != '\n') Advance(s_[i_] == '\\' ? 2 : 1);
    Advance(1);
  }

  std::string s_;
  size_t i_ = 0;
  int line_ = 1;
};

ScanResult ScanSource(const std::string& source) { return SourceScanner(source).Scan(); }

std::vector<std::string> TextsOf(const std::string& source) {
  std::vector<std::string> texts;
  for (const SystemText& t : ScanSource(source).texts) texts.push_back(t.text);
  return texts;
}

struct SourceFile {
  std::string name;  // relative to the source folder, with "/"
  std::string content;
};

// Every .cpp and .h below src/ and tools/, in a fixed order.
std::vector<SourceFile> ReadSources() {
  const fs::path root = AQLED_SOURCE_DIR;
  std::vector<SourceFile> files;
  for (const char* folder : {"src", "tools"}) {
    for (const auto& entry : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::ostringstream content;
      content << in.rdbuf();
      files.push_back({fs::relative(entry.path(), root).generic_string(), content.str()});
    }
  }
  std::sort(files.begin(), files.end(),
            [](const SourceFile& a, const SourceFile& b) { return a.name < b.name; });
  return files;
}

bool HasNonAscii(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

TEST(SystemTexts, ScannerReadsOnlySingleLiteralTexts) {
  struct Case {
    const char* source;
    std::vector<std::string> texts;
    size_t convertedAtEachUse;
  };
  const std::vector<Case> cases = {
      {R"(f(Gbk<"发送:">());)", {"发送:"}, 0},
      {R"(Gbk<"a">() + Gbk<"b">())", {"a", "b"}, 0},
      {R"(Gbk<"缺少字段 \"%s\"">())", {"缺少字段 \"%s\""}, 0},
      {R"(Gbk<"a\\b">())", {"a\\b"}, 0},
      {R"(Gbk<"a>b">())", {"a>b"}, 0},
      {R"(Gbk<"a" "b">())", {}, 0},            // two literals: not one plain text
      {R"(Gbk<kName>())", {}, 0},              // not a literal
      {R"(KeptGbk<"x">())", {}, 0},            // another name
      {R"(// Gbk<"in a comment">())", {}, 0},  // a comment
      {R"(/* Gbk<"c">() */ Gbk<"d">())", {"d"}, 0},
      {"Gbk<R\"(raw)\">()", {}, 0},                                // raw strings are skipped
      {R"x(s = "Gbk<\"q\">()"; c = '"'; Gbk<"e">())x", {"e"}, 0},  // a string, a quote character
      {R"(Utf8ToGbk("发送:") + Utf8ToGbk ( "a" "b" ))", {}, 2},    // the other style
      {R"(Utf8ToGbk(name) + Utf8ToGbkLenient("x"))", {}, 0},       // a peer's text, another function
  };
  for (const Case& c : cases) {
    const ScanResult scan = ScanSource(c.source);
    EXPECT_EQ(TextsOf(c.source), c.texts) << c.source;
    EXPECT_EQ(scan.convertedAtEachUse.size(), c.convertedAtEachUse) << c.source;
  }
}

TEST(SystemTexts, ScannerFindsEscapedHighBytes) {
  struct Case {
    const char* source;
    size_t escaped;
  };
  const std::vector<Case> cases = {
      {R"(x = "\xB7\xA2\xCB\xCD:";)", 1},
      {R"(x = "a" "\x80";)", 1},
      {R"(x = "\x7F\x20";)", 0},
      {R"(x = "\301";)", 1},
      {R"(x = "\101";)", 0},
      {R"(x = '\xFF'; // "\xFF")", 0},  // a character literal and a comment
      {"x = R\"(\\xFF)\";", 0},         // a raw string holds no escapes
  };
  for (const Case& c : cases) EXPECT_EQ(ScanSource(c.source).escaped.size(), c.escaped) << c.source;
}

TEST(SystemTexts, EveryTextRoundTripsThroughGbk) {
  size_t count = 0;
  size_t chinese = 0;
  for (const SourceFile& file : ReadSources()) {
    for (const SystemText& t : ScanSource(file.content).texts) {
      ++count;
      if (HasNonAscii(t.text)) ++chinese;
      const std::string gbk = Utf8ToGbk(t.text);
      const std::string where = file.name + ":" + std::to_string(t.line) + " \"" + t.text + "\"";
      EXPECT_EQ(GbkToUtf8(gbk), t.text) << where;
      EXPECT_EQ(std::count(gbk.begin(), gbk.end(), '?'), std::count(t.text.begin(), t.text.end(), '?'))
          << "a character GBK lacks in " << where;
    }
  }
  // The sources hold well over a hundred such texts; finding few means the scan went wrong.
  EXPECT_GT(count, 50u);
  EXPECT_GT(chinese, 50u);
}

TEST(SystemTexts, NoTextIsWrittenAsEscapedGbkBytes) {
  // Byte sequences that are no text: the UTF-8 byte order mark an ini file may start with, and
  // the test site's deliberately broken UTF-8.
  const std::set<std::string> allowed = {"src/settings/ini_file.cpp", "tools/stationsite/station_site.cpp"};
  std::set<std::string> seen;
  for (const SourceFile& file : ReadSources()) {
    for (const EscapedBytes& e : ScanSource(file.content).escaped) {
      if (allowed.count(file.name) != 0) {
        seen.insert(file.name);
        continue;
      }
      ADD_FAILURE() << file.name << ":" << e.line
                    << ": a hex-escaped byte string; write the text as Gbk<\"...\">()";
    }
  }
  // An entry whose bytes are gone is dropped from the list rather than left to excuse new ones.
  EXPECT_EQ(seen, allowed);
}

TEST(SystemTexts, NoTextIsConvertedAgainAtEachUse) {
  for (const SourceFile& file : ReadSources()) {
    for (int line : ScanSource(file.content).convertedAtEachUse) {
      ADD_FAILURE() << file.name << ":" << line << ": write the system's text as Gbk<\"...\">()";
    }
  }
}
