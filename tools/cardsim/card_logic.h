#pragma once
// The controller card's side of the protocol that needs no socket: reading its commands,
// Base64 contents, the playlist and program files, and composing what its screen shows.
// Everything here is UTF-8; the card knows nothing of GBK.

#include <QByteArray>
#include <QImage>
#include <QString>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace aqled::cardsim {

// A command or value the card cannot use; what() says why (UTF-8).
class CardError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses the first JSON value of a payload and ignores what follows it. Raw CR and LF bytes
// (a MIME line break put into a JSON string unescaped) are dropped before a second attempt,
// since the card's texts hold no line break that means anything. Throws CardError.
nlohmann::json ParseCommand(std::string_view utf8);

// Standard Base64 in any line form: CR, LF, blanks and tabs are skipped, "=" fill is optional
// at the end. Nothing for any other character or a length that cannot be Base64.
std::optional<QByteArray> DecodeMimeBase64(std::string_view text);

// A text value of an object, or `fallback` when the key is missing; numbers give their JSON text.
std::string TextOf(const nlohmann::json& object, std::string_view key, std::string fallback = {});

// A relative path inside the card's storage: parts separated by "/", none empty, ".", ".."
// or holding a backslash or a NUL; one leading "/" is allowed (the program files use it).
// Returns the path without the leading "/", or nothing when it is not safe.
std::optional<std::string> SafeStoragePath(std::string_view path);

struct DownloadItem {
  QString url;
  std::string storagePath;  // dstpath + "/" + dstfilename, checked by SafeStoragePath
  std::int64_t size = -1;   // expected length; a size that is not a whole number is -1
};

// The items of a "downloadfilefromurl" input. Throws CardError when "items" is missing or an
// item lacks "srcurl" or "dstfilename", or names a path outside the storage.
std::vector<DownloadItem> ParseDownloadItems(const nlohmann::json& input);

// True when the address is plain http(s) to a loopback host (127.0.0.0/8, ::1, localhost).
bool IsLoopbackUrl(const QString& url);

// The programFile of the first program of a playlist (ll.xml). Throws CardError.
std::string PlaylistProgramFile(const QByteArray& xml);

struct ProgramPicture {
  std::string file;  // as written in the picUnit's "file"
  int order = 0;
};
struct ProgramLayout {
  int x = 0, y = 0, w = 0, h = 0;        // the picturepanel
  std::vector<ProgramPicture> pictures;  // sorted by order, ties in file order
};

// The first picturepanel of a program file (pp.xml) with its picUnits. Throws CardError.
ProgramLayout ParseProgramFile(const QByteArray& xml);

// The dynamic area's units of an "UpdateDynamic" input: their picture addresses decoded
// from "content", sorted by "order". Throws CardError for a unit whose content is not Base64.
struct DynamicArea {
  int x = 0, y = 0, w = 0, h = 0;
  std::vector<QString> addresses;
};
DynamicArea ParseDynamicArea(const nlohmann::json& input);

// What the screen shows: a black screen of the given size with the picture drawn unscaled
// at the area's origin and clipped to the area.
QImage ComposeScreen(const QImage& picture, int screenWidth, int screenHeight, int x, int y, int w, int h);

// An answer frame's JSON text: {"name":name,"output":output}.
std::string Answer(std::string_view name, const nlohmann::json& output);

}  // namespace aqled::cardsim
