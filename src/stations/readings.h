#pragma once
// One station's readings, exactly as cut from its page (never parsed as numbers).

#include <array>
#include <string>

namespace aqled {

struct Dtstr {
  std::string pm25;
  std::string ozone;
  std::string negativeIons;
  std::string level;
  bool operator==(const Dtstr&) const = default;
};

// Station readings indexed by station number 1 to 4; index 0 is unused.
using StationReadings = std::array<Dtstr, 5>;

// The publish time texts (GBK, as cut from the page) that came with the station readings,
// indexed like them.
using StationPublishTimes = std::array<std::string, 5>;

}  // namespace aqled
