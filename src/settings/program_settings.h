#pragma once
// config.ini: the service side of the system, read once at start-up and never written.

#include <string>
#include <vector>

#include "settings/ini_file.h"

namespace aqled {

// The separator that ends AppFolder, PictureFolder and ShareFolder.
inline constexpr char kPathSeparator = '/';

// "空气质量数据更新中" (GBK): what the screen says while it has no reading to show.
const std::string& DefaultNoDataText();

// Set/MaxCards at most: a scenic area or a town puts up a handful of screens; the session table
// holds a slot for each, and the controller link leaves room for each card's reconnect.
inline constexpr int kMaxCards = 32;

// Values of config.ini. Texts are GBK.
struct ProgramSettings {
  std::string HttpBaseDir;  // address prefix of ShareFolder, ends in "/"
  std::string FileBaseDir;  // ShareFolder, ends in "\" or "/"
  int Debug = 0;            // read, nothing depends on it
  int SendTimes = 1;        // read, nothing depends on it
  int stuntType = 0;        // effect code of every picture of a dynamic-area send
  int stuntSpeed = 16;      // effect speed of every picture of a dynamic-area send
  int stayTime = 10;        // display time of every picture of a dynamic-area send
  int sendkind = 1;         // 1: program route; any other value: dynamic-area route
  std::string StationSite;  // "https://host[:port]" of the data site, no final "/"
  int ShareServer = 1;      // 1: the application publishes ShareFolder itself; 0: an outside server does
  int StatusPage = 1;       // 0: the share server answers no status page, status.json or metrics
  int AutoSend = 1;         // 0: no timed delivery; any other value: a send at every slot of dtk
  int MaxDataAge = 6;       // hours after its publish time a station's readings go stale; 0 or less: never
  // The text of the notice page that goes on air when no reading may (GBK); empty: the default.
  std::string NoDataText = DefaultNoDataText();
  int TlsVerify = 1;      // 0: the data site's certificate is not verified; any other value: it is
  std::string StationCA;  // PEM file of CA certificates trusted beside the system's; relative: in AppFolder
  std::vector<std::string> Cards;  // the barcodes that may log in (GBK), in their order; empty: any card
  int MaxCards = 1;                // slots of the session table, 1 to kMaxCards
  bool operator==(const ProgramSettings&) const = default;
};

// The defaults that depend on the machine.
struct ProgramDefaults {
  std::string FileBaseDir;  // "D:\temp\" on Windows, AppFolder + "share/" elsewhere
  std::string HttpBaseDir;  // "http://" + this PC's first IPv4 address + ":8116/"
  std::string StationSite;  // the built-in address of the data site
};

// The machine defaults for an application folder (GBK, ending in its separator), the first
// non-loopback IPv4 address of this PC ("127.0.0.1" when empty) and the data site's address.
ProgramDefaults MakeProgramDefaults(const std::string& appFolder, const std::string& localIpv4,
                                    const std::string& stationSite);

// Reads the keys of sections Path and Set in their order. A missing key, a malformed integer
// and an empty text take the default. A missing final separator is added to FileBaseDir (the
// platform's) and HttpBaseDir ("/"); a final "/" is removed from StationSite. Cards is split at
// commas, each barcode trimmed of blanks and empty ones left out. A MaxCards outside 1 to
// kMaxCards is taken as the nearer end, and a kind-1 line saying so is added to `problems`
// when given (GBK).
ProgramSettings ReadProgramSettings(const IniFile& ini, const ProgramDefaults& defaults,
                                    std::vector<std::string>* problems = nullptr);

}  // namespace aqled
