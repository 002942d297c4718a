#pragma once
// setup.ini and the operator's three text files (fly.txt, gg.txt, txt.txt): the display
// settings as plain data, loaded at start-up and saved only by "立即执行".

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "logging/operation_log.h"
#include "settings/font_slot.h"
#include "settings/ini_file.h"

namespace aqled {

// Captions of the station pages and the free text "字符串": read at start-up, never written.
struct DisplayCaptions {
  // Section "清新空气设置": 大标题, 小标题1..小标题5, 站点1..站点4, in this order.
  std::array<std::string, 10> fresh;
  // Section "环境空气设置": 大标题, 小标题1..小标题7, in this order.
  std::array<std::string, 8> ambient;
  std::string share;  // key "字符串" of section "其它设置"
  bool operator==(const DisplayCaptions&) const = default;
};

// The values of section "其它设置" that live in the window's controls, as stored; the window
// brings them into the ranges of its controls.
struct DisplayControls {
  bool zmcheck = true;
  bool dt1check = true;
  bool ggcheck = false;
  bool ggcheck2 = false;
  int ggshowkind = 1;  // item index, -1 for no selection
  int left = 0;        // window position: written, never read
  int top = 0;
  int pagetime = 10;
  int col1 = 110;  // key 列1宽, control xx1
  int col2 = 80;   // key 列2宽, control xx2
  int dtx = 0, dty = 0, dtw = 0, dth = 0;
  int zmx = 0, zmy = 0, zmw = 0, zmh = 0;
  int tx = 0, ty = 0, tw = 0, th = 0;
  bool year_ = false, week_ = false, time_ = false;
  int bmsel = 0;
  int hjj = 3;
  int dtk = 0;
  bool operator==(const DisplayControls&) const = default;
};

// The nine font slots and the table colour.
struct DisplayFonts {
  FontSlot zd, qxdj, bt, dt, dw, bz, bz2, time;
  // Kept under the plain keys name, size, color, style of section "其它设置".
  FontSlot clock{DefaultFontName(), 1, 1, 1};
  int wgcolor = 255;
  bool operator==(const DisplayFonts&) const = default;
};

struct DisplaySettings {
  DisplayCaptions captions;
  DisplayControls controls;
  DisplayFonts fonts;
  bool operator==(const DisplaySettings&) const = default;
};

// The defaults of every key (a setup.ini without the key).
DisplaySettings DefaultDisplaySettings();

// Reads the three sections in their reading order; a missing key takes its default.
DisplaySettings LoadDisplaySettings(const IniFile& ini);

// Writes section "其它设置" in its save order and then section "字体设置" into `ini`; every
// other section and key of `ini` stays as it is.
void StoreDisplaySettings(const DisplayControls& controls, const DisplayFonts& fonts, IniFile& ini);

// Re-reads `setupIni` (when it exists), stores the settings into it and replaces the file whole.
// Returns false and writes a kind-1 line naming the file when it cannot be read or written;
// the file then stays as it was.
bool SaveDisplaySettings(const std::filesystem::path& setupIni, const DisplayControls& controls,
                         const DisplayFonts& fonts, LogSink& log);

// The operator's texts, as the window holds them: memo texts with CR LF line breaks (GBK) and
// the advertisement entries.
struct DisplayTexts {
  std::string fly = "fly";
  std::vector<std::string> gg;
  std::string txt = "Memo2";
  bool operator==(const DisplayTexts&) const = default;
};

// A memo's text from a file: every line break (CR LF, lone CR, lone LF) becomes CR LF.
std::string MemoTextFromFile(std::string_view bytes);
// The list items of a file: one per line; a break at the very end adds no empty item.
std::vector<std::string> ListItemsFromFile(std::string_view bytes);
// The file of a list: every item followed by CR LF.
std::string FileFromListItems(const std::vector<std::string>& items);

// A settings or text file that exists but could not be read, and why (GBK).
struct UnreadFile {
  std::filesystem::path file;
  std::string reason;
  bool operator==(const UnreadFile&) const = default;
};

// Replaces fly, gg and txt (in this order) with the files fly.txt, gg.txt and txt.txt of
// `appFolder` that exist; a missing file leaves its text. A file that exists but cannot be read
// leaves its text too and is listed in the result; the files after it are still read.
std::vector<UnreadFile> LoadDisplayTexts(const std::filesystem::path& appFolder, DisplayTexts& texts);

// True when the save must leave `file` as it is because it is one of `unloaded` (the operator's
// files that existed but could not be read at start-up: writing them would replace content
// the window never held) and still exists; then writes the kind-1 line
// "未保存 <file>: 启动时未能读取此文件, 文件保持原样".
bool KeepUnloadedFile(const std::filesystem::path& file, const std::vector<std::filesystem::path>& unloaded,
                      LogSink& log);

// Writes gg.txt, fly.txt and txt.txt in this order, each replaced whole; a file kept by
// KeepUnloadedFile is passed over with its line. Stops at the first file that cannot be
// written, or whose text is longer than the next start reads (kMaxSettingsFileBytes), with a
// kind-1 line naming it ("保存文件失败: <file>: <reason>"), and returns false.
bool SaveDisplayTexts(const std::filesystem::path& appFolder, const DisplayTexts& texts, LogSink& log,
                      const std::vector<std::filesystem::path>& unloaded = {});

}  // namespace aqled
