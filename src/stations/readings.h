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

}  // namespace aqled
