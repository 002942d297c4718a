#pragma once
// The fixed station catalogue and the station URL table built from the data site's address.

#include <array>
#include <string>
#include <string_view>

namespace aqled {

inline constexpr int kStationCount = 4;

// One station of the catalogue; the number is its position in every table of the system.
struct Station {
  int number;
  std::string name;    // GBK, used in log lines and as the preview tab caption
  const char* siteId;  // last path segment of the station's page URL
};

// Stations 1 to 4 in catalogue order (index 0 is station 1).
const std::array<Station, kStationCount>& StationCatalogue();

// The catalogue name (GBK) of station `number` (1 to 4); empty for any other number.
std::string StationName(int number);

// The page URLs indexed by station number 1 to 4; index 0 is unused.
using StationUrlTable = std::array<std::string, kStationCount + 1>;

// The data site address used when config.ini has no Path/StationSite.
inline constexpr std::string_view kDefaultStationSite = "https://zjqxkqfb.example";

// The path of every station page below the site address, followed by the site id.
inline constexpr std::string_view kStationPagePath = "/zjqxkqfb/site/";

// base + "/zjqxkqfb/site/" + site id for each station. `base` is "https://" + host with an
// optional ":port"; a trailing "/" is dropped so the path is never doubled, and an empty base
// stands for kDefaultStationSite.
StationUrlTable BuildStationUrls(std::string_view base);

}  // namespace aqled
