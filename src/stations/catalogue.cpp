#include "stations/catalogue.h"

#include "text/gbk.h"

namespace aqled {

const std::array<Station, kStationCount>& StationCatalogue() {
  static const std::array<Station, kStationCount> stations = {{
      {1, Gbk<"祯埠镇">(), "9efe4be1d20c476e8f1438f06e56d870"},
      {2, Gbk<"石门洞">(), "63f8c09c64024cfaae367e84ff0dce7d"},
      {3, Gbk<"小舟山">(), "24e8f36a598a4a8ea1d3a92c42e192fd"},
      {4, Gbk<"千峡湖">(), "c3387c02136b4348812567a547e771c0"},
  }};
  return stations;
}

std::string StationName(int number) {
  if (number < 1 || number > kStationCount) return {};
  return StationCatalogue()[number - 1].name;
}

StationUrlTable BuildStationUrls(std::string_view base) {
  std::string site(base.empty() ? kDefaultStationSite : base);
  while (!site.empty() && site.back() == '/') site.pop_back();
  StationUrlTable urls;
  for (const Station& s : StationCatalogue()) {
    urls[s.number] = site + std::string(kStationPagePath) + s.siteId;
  }
  return urls;
}

}  // namespace aqled
