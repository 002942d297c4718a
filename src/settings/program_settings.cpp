#include "settings/program_settings.h"

#include "text/gbk.h"

namespace aqled {
namespace {

// The separator that ends a folder name.
constexpr char kFolderSeparator = '/';

std::string TextOrDefault(const IniFile& ini, const char* section, const char* key,
                          const std::string& fallback) {
  std::string v = ini.ReadString(section, key, fallback);
  return v.empty() ? fallback : v;
}

}  // namespace

ProgramDefaults MakeProgramDefaults(const std::string& appFolder, const std::string& localIpv4,
                                    const std::string& stationSite) {
  ProgramDefaults d;
  d.FileBaseDir = appFolder + "share" + kFolderSeparator;
  d.HttpBaseDir = "http://" + (localIpv4.empty() ? std::string("127.0.0.1") : localIpv4) + ":8116/";
  d.StationSite = stationSite;
  return d;
}

const std::string& DefaultNoDataText() {
  static const std::string text = Utf8ToGbk("空气质量数据更新中");
  return text;
}

ProgramSettings ReadProgramSettings(const IniFile& ini, const ProgramDefaults& defaults) {
  ProgramSettings s;  // every value starts at its default, kept when a key is missing
  s.HttpBaseDir = TextOrDefault(ini, "Path", "HttpBaseDir", defaults.HttpBaseDir);
  s.FileBaseDir = TextOrDefault(ini, "Path", "FileBaseDir", defaults.FileBaseDir);
  s.Debug = ini.ReadInteger("Set", "Debug", s.Debug);
  s.SendTimes = ini.ReadInteger("Set", "SendTimes", s.SendTimes);
  s.stuntType = ini.ReadInteger("Set", "stuntType", s.stuntType);
  s.stuntSpeed = ini.ReadInteger("Set", "stuntSpeed", s.stuntSpeed);
  s.stayTime = ini.ReadInteger("Set", "stayTime", s.stayTime);
  s.sendkind = ini.ReadInteger("Set", "sendkind", s.sendkind);
  s.StationSite = TextOrDefault(ini, "Path", "StationSite", defaults.StationSite);
  s.ShareServer = ini.ReadInteger("Set", "ShareServer", s.ShareServer);
  s.StatusPage = ini.ReadInteger("Set", "StatusPage", s.StatusPage);
  s.AutoSend = ini.ReadInteger("Set", "AutoSend", s.AutoSend);
  s.MaxDataAge = ini.ReadInteger("Set", "MaxDataAge", s.MaxDataAge);
  s.NoDataText = TextOrDefault(ini, "Set", "NoDataText", s.NoDataText);
  s.TlsVerify = ini.ReadInteger("Set", "TlsVerify", s.TlsVerify);
  s.StationCA = ini.ReadString("Path", "StationCA", s.StationCA);

  // Every file name is appended directly to these two, so without their final separator the
  // files would land beside the folder instead of in it.
  if (!s.FileBaseDir.empty() && s.FileBaseDir.back() != '\\' && s.FileBaseDir.back() != '/') {
    s.FileBaseDir += kFolderSeparator;
  }
  if (!s.HttpBaseDir.empty() && s.HttpBaseDir.back() != '/') s.HttpBaseDir += '/';
  while (s.StationSite.size() > 1 && s.StationSite.back() == '/') s.StationSite.pop_back();
  return s;
}

}  // namespace aqled
