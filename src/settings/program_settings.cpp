#include "settings/program_settings.h"

#include <algorithm>

#include "text/gbk.h"
#include "text/strings.h"

namespace aqled {
namespace {

std::string TextOrDefault(const IniFile& ini, const char* section, const char* key,
                          const std::string& fallback) {
  std::string v = ini.ReadString(section, key, fallback);
  return v.empty() ? fallback : v;
}

// The barcodes of a comma-separated list: a comma is never the second byte of a GBK character.
std::vector<std::string> SplitCards(const std::string& list) {
  std::vector<std::string> cards;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    std::string card = Trim(std::string_view(list).substr(start, comma - start));
    if (!card.empty()) cards.push_back(std::move(card));
    start = comma + 1;
  }
  return cards;
}

}  // namespace

ProgramDefaults MakeProgramDefaults(const std::string& appFolder, const std::string& localIpv4,
                                    const std::string& stationSite) {
  ProgramDefaults d;
  d.FileBaseDir = appFolder + "share" + kPathSeparator;
  d.HttpBaseDir = "http://" + (localIpv4.empty() ? std::string("127.0.0.1") : localIpv4) + ":8116/";
  d.StationSite = stationSite;
  return d;
}

const std::string& DefaultNoDataText() { return Gbk<"空气质量数据更新中">(); }

ProgramSettings ReadProgramSettings(const IniFile& ini, const ProgramDefaults& defaults,
                                    std::vector<std::string>* problems) {
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
  s.Cards = SplitCards(ini.ReadString("Set", "Cards", ""));
  const int maxCards = ini.ReadInteger("Set", "MaxCards", s.MaxCards);
  s.MaxCards = std::clamp(maxCards, 1, kMaxCards);
  if (s.MaxCards != maxCards && problems != nullptr) {
    problems->push_back(Format(Gbk<"config.ini 的 Set/MaxCards=%d 不在 1 到 %d 之间, 取 %d">(),
                               {static_cast<long long>(maxCards), static_cast<long long>(kMaxCards),
                                static_cast<long long>(s.MaxCards)}));
  }

  // Every file name is appended directly to these two, so without their final separator the
  // files would land beside the folder instead of in it.
  if (!s.FileBaseDir.empty() && s.FileBaseDir.back() != '\\' && s.FileBaseDir.back() != '/') {
    s.FileBaseDir += kPathSeparator;
  }
  if (!s.HttpBaseDir.empty() && s.HttpBaseDir.back() != '/') s.HttpBaseDir += '/';
  while (s.StationSite.size() > 1 && s.StationSite.back() == '/') s.StationSite.pop_back();
  return s;
}

}  // namespace aqled
