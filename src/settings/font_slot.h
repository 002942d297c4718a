#pragma once
// One stored font choice of the display pages.

#include <string>

namespace aqled {

struct FontSlot {
  std::string name = "\xCB\xCE\xCC\xE5";  // 宋体 (GBK)
  int size = 16;                          // points
  int color = 255;                        // colour word: lowest byte red, then green, then blue
  int style = 0;                          // 1 bold, 0 normal
  bool operator==(const FontSlot&) const = default;
};

}  // namespace aqled
