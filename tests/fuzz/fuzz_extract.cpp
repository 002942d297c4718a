// libFuzzer target of a station page: any body decoded, joined and cut into readings, as a
// fetch does with what the data site sends.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "stations/extract.h"
#include "stations/page_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const std::string text = aqled::PageTextFromBody(body);
  const aqled::PageReadings readings = aqled::ExtractReadings(text);
  // Every reading is a piece of the page text.
  for (const std::string* cut :
       {&readings.level, &readings.negativeIons, &readings.pm25, &readings.ozone, &readings.publishTime}) {
    if (cut->size() > text.size()) std::abort();
  }
  (void)aqled::ExtractReadings(body);
  return 0;
}
