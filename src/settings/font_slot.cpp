#include "settings/font_slot.h"

#include "text/gbk.h"

namespace aqled {

const std::string& DefaultFontName() { return Gbk<"宋体">(); }

FontChoice ChoiceFromSlot(const FontSlot& slot, BoldTest test) {
  FontChoice c;
  c.name = slot.name;
  c.size = slot.size;
  c.color = slot.color;
  c.bold = test == BoldTest::kBoldOnly ? slot.style == 1 : slot.style != 0;
  return c;
}

FontSlot SlotFromChoice(const FontChoice& choice, BoldTest test) {
  FontSlot s;
  s.name = choice.name;
  s.size = choice.size;
  s.color = choice.color;
  const bool anyOther = choice.italic || choice.underline || choice.strikeOut;
  if (test == BoldTest::kBoldOnly) {
    s.style = (choice.bold && !anyOther) ? 1 : 0;
  } else {
    s.style = (choice.bold || anyOther) ? 1 : 0;
  }
  return s;
}

}  // namespace aqled
