#pragma once
// The one place where text changes encoding. Inside the system every text is GBK bytes
// (code page 936) in a std::string; UTF-8 appears only on the wire and in file names,
// QString only at the edges (widgets, drawing, Qt networking).

#include <filesystem>
#include <string>
#include <string_view>

class QString;

namespace aqled {

// GBK bytes to UTF-8. A byte sequence that is not GBK becomes "?" per offending byte.
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 from a peer (a station page, a frame payload) to GBK, with the system's strict rule:
// every byte of 0x80 or above starts a sequence of two bytes when its bit 0x20 is clear and of
// three bytes when it is set; if a further byte of a sequence is missing or lies outside
// 0x80..0xBF the whole result is empty. Characters GBK lacks become "?".
std::string Utf8ToGbk(std::string_view utf8);

// Well-formed UTF-8 (from Qt, from file names) to GBK; characters GBK lacks, and malformed
// bytes, become "?". Never empties the whole text.
std::string Utf8ToGbkLenient(std::string_view utf8);

// Edges: widgets and drawing take QString.
QString ToQString(std::string_view gbk);
std::string FromQString(const QString& text);

// Edges: the file system takes the platform's encoding (UTF-8 on Linux).
std::filesystem::path PathFromGbk(std::string_view gbk);
std::string GbkFromPath(const std::filesystem::path& path);

}  // namespace aqled
