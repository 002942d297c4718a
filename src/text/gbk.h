#pragma once
// The one place where text changes encoding. Inside the system every text is GBK bytes
// (code page 936) in a std::string; UTF-8 appears only on the wire and in file names,
// QString only at the edges (widgets, drawing, Qt networking).

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

class QString;

namespace aqled {

// Opens the converters of both directions, which load a module of the system and so need
// free descriptors: the program calls it at start-up, before its servers can take every
// descriptor. False when one cannot be opened (it is tried again at its next use); until then
// conversions of that direction hand their input back unchanged.
bool LoadTextCodec();

// GBK bytes to UTF-8. A path escape (below) becomes the character it stands for ("?" for an
// escaped byte that is no UTF-8); any other byte sequence that is not GBK becomes "?" per
// offending byte.
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 from a peer (a station page, a frame payload) to GBK, with the system's strict rule:
// a well-formed four-byte sequence (lead 0xF0 to 0xF4, U+10000 to U+10FFFF) is one character;
// any other byte of 0x80 or above starts a sequence of two bytes when its bit 0x20 is clear and
// of three bytes when it is set. If a further byte of a sequence is missing or lies outside
// 0x80..0xBF, or a sequence led by 0xF0 to 0xF7 is not well formed, the whole result is empty.
// Characters GBK lacks (every four-byte one among them) become "?".
std::string Utf8ToGbk(std::string_view utf8);

// A text of the system itself, written in the source as a UTF-8 literal: Gbk<"程序开始运行">()
// is its GBK bytes, converted at the first use and kept for the life of the process. Until the
// converter could be opened (see LoadTextCodec) each use tries again and hands the literal back
// unchanged, so a start-up short of descriptors never keeps an unconverted text.
template <std::size_t N>
struct Utf8Literal {
  char bytes[N];
  // Implicit, so that the literal itself is the template argument.
  consteval Utf8Literal(const char (&text)[N]) {
    for (std::size_t i = 0; i < N; ++i) bytes[i] = text[i];
  }
  constexpr std::string_view View() const { return {bytes, N - 1}; }
};

class KeptGbk {
 public:
  const std::string& Get(std::string_view utf8);

 private:
  std::string gbk_;
  bool converted_ = false;
};

template <Utf8Literal text>
const std::string& Gbk() {
  static KeptGbk kept;
  return kept.Get(text.View());
}

// Well-formed UTF-8 (from Qt, from file names) to GBK; characters GBK lacks, and malformed
// bytes, become "?". Never empties the whole text.
std::string Utf8ToGbkLenient(std::string_view utf8);

// Edges: widgets and drawing take QString.
QString ToQString(std::string_view gbk);
std::string FromQString(const QString& text);

// Edges: the file system takes the platform's encoding (UTF-8 on Linux). A file name may hold
// what GBK cannot: characters outside GBK (Korean letters, say) or, on Linux, bytes that are no
// UTF-8. So that such a path survives its way through the system as GBK text (AppFolder, the
// picture list, the settings files) GbkFromPath writes each of them as a path escape: three
// byte pairs 0xFF t, each t being 0x80 | 7 bits of the code point (U+DC80 to U+DCFF stand for
// the stray bytes 0x80 to 0xFF). GBK has no byte 0xFF, and code that walks GBK text takes each
// pair for one double-byte character, so no escape is ever read as "\", "/", ":", ";" or ".".
// PathFromGbk(GbkFromPath(p)) == p for every path.
std::filesystem::path PathFromGbk(std::string_view gbk);
std::string GbkFromPath(const std::filesystem::path& path);

}  // namespace aqled
