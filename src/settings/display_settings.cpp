#include "settings/display_settings.h"

#include <algorithm>
#include <optional>

#include "settings/file_io.h"
#include "settings/file_problem.h"
#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

// The GBK names of the sections and keys, converted once from the UTF-8 source.
struct Names {
  std::string fresh = Gbk<"清新空气设置">();
  std::string ambient = Gbk<"环境空气设置">();
  std::string other = Gbk<"其它设置">();
  std::string fonts = Gbk<"字体设置">();
  std::string share = Gbk<"字符串">();
  std::string col1 = Gbk<"列1宽">();
  std::string col2 = Gbk<"列2宽">();
  std::string bigTitle = Gbk<"大标题">();
  std::string smallTitle = Gbk<"小标题">();
  std::string station = Gbk<"站点">();
  std::array<std::string, 10> freshKeys;
  std::array<std::string, 10> freshDefaults{
      Gbk<"气体">(), Gbk<"左上区">(),        Gbk<"左下区">(),      Gbk<"右上区">(),     Gbk<"右下区">(),
      Gbk<"标准">(), Gbk<"硫化氢(mg/m3)">(), Gbk<"氨气(mg/m3)">(), Gbk<"OU(无量纲)">(), Gbk<"VOC(mg/m3)">()};
  std::array<std::string, 8> ambientKeys;
  std::string ambientDefault = Gbk<"甲硫醇">();
  // A file share of the data PC; stored, never used.
  std::string shareDefault = "\\\\127.0.0.1\\file";

  Names() {
    freshKeys[0] = bigTitle;
    for (int i = 1; i <= 5; ++i) freshKeys[i] = smallTitle + std::to_string(i);
    for (int i = 1; i <= 4; ++i) freshKeys[5 + i] = station + std::to_string(i);
    ambientKeys[0] = bigTitle;
    for (int i = 1; i <= 7; ++i) ambientKeys[i] = smallTitle + std::to_string(i);
  }
};

const Names& N() {
  static const Names names;
  return names;
}

// The eight slots of section "字体设置" with their key prefixes, in their order. bz2 puts the
// digit after the key word (bzname2, ...).
struct SlotKeys {
  FontSlot DisplayFonts::*slot;
  const char* prefix;
  const char* suffix;
};
constexpr SlotKeys kSlots[] = {
    {&DisplayFonts::zd, "zd", ""},   {&DisplayFonts::qxdj, "qxdj", ""}, {&DisplayFonts::bt, "bt", ""},
    {&DisplayFonts::dt, "dt", ""},   {&DisplayFonts::dw, "dw", ""},     {&DisplayFonts::bz, "bz", ""},
    {&DisplayFonts::bz2, "bz", "2"}, {&DisplayFonts::time, "time", ""},
};

std::string Key(const SlotKeys& k, const char* word) { return std::string(k.prefix) + word + k.suffix; }

}  // namespace

DisplaySettings DefaultDisplaySettings() { return LoadDisplaySettings(IniFile()); }

DisplaySettings LoadDisplaySettings(const IniFile& ini) {
  const Names& n = N();
  DisplaySettings s;  // every control and font starts at its default, kept when a key is missing
  for (size_t i = 0; i < s.captions.fresh.size(); ++i) {
    s.captions.fresh[i] = ini.ReadString(n.fresh, n.freshKeys[i], n.freshDefaults[i]);
  }
  for (size_t i = 0; i < s.captions.ambient.size(); ++i) {
    s.captions.ambient[i] = ini.ReadString(n.ambient, n.ambientKeys[i], n.ambientDefault);
  }

  const std::string& o = n.other;
  DisplayControls& c = s.controls;
  DisplayFonts& f = s.fonts;
  s.captions.share = ini.ReadString(o, n.share, n.shareDefault);
  c.zmcheck = ini.ReadBool(o, "zmcheck", c.zmcheck);
  c.dt1check = ini.ReadBool(o, "dt1check", c.dt1check);
  c.ggcheck = ini.ReadBool(o, "ggcheck", c.ggcheck);
  c.ggcheck2 = ini.ReadBool(o, "ggcheck2", c.ggcheck2);
  c.ggshowkind = ini.ReadInteger(o, "ggshowkind", c.ggshowkind);
  f.clock.color = ini.ReadInteger(o, "color", f.clock.color);
  f.clock.style = ini.ReadInteger(o, "style", f.clock.style);
  f.clock.size = ini.ReadInteger(o, "size", f.clock.size);
  f.clock.name = ini.ReadString(o, "name", f.clock.name);
  c.pagetime = ini.ReadInteger(o, "pagetime", c.pagetime);
  c.col1 = ini.ReadInteger(o, n.col1, c.col1);
  c.col2 = ini.ReadInteger(o, n.col2, c.col2);
  c.dtx = ini.ReadInteger(o, "dtx", c.dtx);
  c.dty = ini.ReadInteger(o, "dty", c.dty);
  c.dtw = ini.ReadInteger(o, "dtw", c.dtw);
  c.dth = ini.ReadInteger(o, "dth", c.dth);
  c.zmx = ini.ReadInteger(o, "zmx", c.zmx);
  c.zmy = ini.ReadInteger(o, "zmy", c.zmy);
  c.zmw = ini.ReadInteger(o, "zmw", c.zmw);
  c.zmh = ini.ReadInteger(o, "zmh", c.zmh);
  c.tx = ini.ReadInteger(o, "tx", c.tx);
  c.ty = ini.ReadInteger(o, "ty", c.ty);
  c.tw = ini.ReadInteger(o, "tw", c.tw);
  c.th = ini.ReadInteger(o, "th", c.th);
  c.year_ = ini.ReadBool(o, "year_", c.year_);
  c.week_ = ini.ReadBool(o, "week_", c.week_);
  c.time_ = ini.ReadBool(o, "time_", c.time_);
  c.bmsel = ini.ReadInteger(o, "bmsel", c.bmsel);
  c.hjj = ini.ReadInteger(o, "hjj", c.hjj);
  c.dtk = ini.ReadInteger(o, "dtk", c.dtk);

  for (const SlotKeys& k : kSlots) {
    FontSlot& slot = f.*k.slot;
    slot.name = ini.ReadString(n.fonts, Key(k, "name"), slot.name);
    slot.size = ini.ReadInteger(n.fonts, Key(k, "size"), slot.size);
    slot.color = ini.ReadInteger(n.fonts, Key(k, "color"), slot.color);
    slot.style = ini.ReadInteger(n.fonts, Key(k, "style"), slot.style);
  }
  f.wgcolor = ini.ReadInteger(n.fonts, "wgcolor", f.wgcolor);
  return s;
}

void StoreDisplaySettings(const DisplayControls& c, const DisplayFonts& f, IniFile& ini) {
  const Names& n = N();
  const std::string& o = n.other;
  ini.WriteBool(o, "zmcheck", c.zmcheck);
  ini.WriteBool(o, "dt1check", c.dt1check);
  ini.WriteBool(o, "ggcheck", c.ggcheck);
  ini.WriteBool(o, "ggcheck2", c.ggcheck2);
  ini.WriteInteger(o, "ggshowkind", c.ggshowkind);
  ini.WriteInteger(o, "left", c.left);
  ini.WriteInteger(o, "top", c.top);
  ini.WriteInteger(o, "pagetime", c.pagetime);
  ini.WriteInteger(o, "color", f.clock.color);
  ini.WriteInteger(o, "style", f.clock.style);
  ini.WriteInteger(o, "size", f.clock.size);
  ini.WriteString(o, "name", f.clock.name);
  ini.WriteInteger(o, n.col1, c.col1);
  ini.WriteInteger(o, n.col2, c.col2);
  ini.WriteInteger(o, "dtx", c.dtx);
  ini.WriteInteger(o, "dty", c.dty);
  ini.WriteInteger(o, "dtw", c.dtw);
  ini.WriteInteger(o, "dth", c.dth);
  ini.WriteInteger(o, "zmx", c.zmx);
  ini.WriteInteger(o, "zmy", c.zmy);
  ini.WriteInteger(o, "zmw", c.zmw);
  ini.WriteInteger(o, "zmh", c.zmh);
  ini.WriteInteger(o, "tx", c.tx);
  ini.WriteInteger(o, "ty", c.ty);
  ini.WriteInteger(o, "tw", c.tw);
  ini.WriteInteger(o, "th", c.th);
  ini.WriteBool(o, "year_", c.year_);
  ini.WriteBool(o, "week_", c.week_);
  ini.WriteBool(o, "time_", c.time_);
  ini.WriteInteger(o, "dtk", c.dtk);
  ini.WriteInteger(o, "bmsel", c.bmsel);
  ini.WriteInteger(o, "hjj", c.hjj);

  for (const SlotKeys& k : kSlots) {
    const FontSlot& slot = f.*k.slot;
    ini.WriteString(n.fonts, Key(k, "name"), slot.name);
    ini.WriteInteger(n.fonts, Key(k, "size"), slot.size);
    ini.WriteInteger(n.fonts, Key(k, "color"), slot.color);
    ini.WriteInteger(n.fonts, Key(k, "style"), slot.style);
  }
  ini.WriteInteger(n.fonts, "wgcolor", f.wgcolor);
}

namespace {

// "保存文件失败: " + the file (GBK), then ": " and the writer's reason when there is one; kind 1.
void LogSaveFailure(LogSink& log, const std::filesystem::path& file, const std::string& reason = {}) {
  const std::string& prefix = Gbk<"保存文件失败: ">();
  log.AppendLog(kLogError, prefix + GbkFromPath(file) + (reason.empty() ? "" : ": " + reason));
}

}  // namespace

bool SaveDisplaySettings(const std::filesystem::path& setupIni, const DisplayControls& controls,
                         const DisplayFonts& fonts, LogSink& log) {
  IniFile::LoadResult current = IniFile::Load(setupIni);
  // A file that is there but cannot be read would lose its other sections if written anew.
  if (current.exists && !current.readable) {
    LogSaveFailure(log, setupIni);
    return false;
  }
  StoreDisplaySettings(controls, fonts, current.ini);
  if (const FileWriteResult written = WriteFileWhole(setupIni, current.ini.Bytes()); !written) {
    LogSaveFailure(log, setupIni, written.error);
    return false;
  }
  return true;
}

std::string MemoTextFromFile(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 16);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::vector<std::string> ListItemsFromFile(std::string_view bytes) { return SplitLines(bytes); }

std::string FileFromListItems(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += item + "\r\n";
  return out;
}

std::vector<UnreadFile> LoadDisplayTexts(const std::filesystem::path& appFolder, DisplayTexts& texts) {
  std::vector<UnreadFile> unread;
  // Each file on its own: one that cannot be read does not keep the others from the window.
  const auto load = [&](const char* name, auto take) {
    const std::filesystem::path file = appFolder / name;
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return;
    if (const std::optional<std::string> bytes = ReadFileWhole(file, kMaxSettingsFileBytes)) {
      take(*bytes);
    } else {
      unread.push_back({file, ReadProblemOf(file)});
    }
  };
  load("fly.txt", [&](const std::string& bytes) { texts.fly = MemoTextFromFile(bytes); });
  load("gg.txt", [&](const std::string& bytes) { texts.gg = ListItemsFromFile(bytes); });
  load("txt.txt", [&](const std::string& bytes) { texts.txt = MemoTextFromFile(bytes); });
  return unread;
}

bool KeepUnloadedFile(const std::filesystem::path& file, const std::vector<std::filesystem::path>& unloaded,
                      LogSink& log) {
  std::error_code ec;
  if (std::find(unloaded.begin(), unloaded.end(), file) == unloaded.end()) return false;
  if (!std::filesystem::exists(file, ec)) return false;
  const std::string& pattern = Gbk<"未保存 %s: 启动时未能读取此文件, 文件保持原样">();
  log.AppendLog(kLogError, Format(pattern, {GbkFromPath(file)}));
  return true;
}

bool SaveDisplayTexts(const std::filesystem::path& appFolder, const DisplayTexts& texts, LogSink& log,
                      const std::vector<std::filesystem::path>& unloaded) {
  const std::pair<const char*, std::string> files[] = {
      {"gg.txt", FileFromListItems(texts.gg)}, {"fly.txt", texts.fly}, {"txt.txt", texts.txt}};
  for (const auto& [name, bytes] : files) {
    const std::filesystem::path file = appFolder / name;
    if (KeepUnloadedFile(file, unloaded, log)) continue;
    // A file the next start could not read back would lose the text there.
    if (bytes.size() > kMaxSettingsFileBytes) {
      LogSaveFailure(log, file, TooLargeText(bytes.size()));
      return false;
    }
    if (const FileWriteResult written = WriteFileWhole(file, bytes); !written) {
      LogSaveFailure(log, file, written.error);
      return false;
    }
  }
  return true;
}

}  // namespace aqled
