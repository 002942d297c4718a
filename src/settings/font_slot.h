#pragma once
// One stored font choice of the display pages, and how a font dialog's choice maps onto it.

#include <string>

namespace aqled {

// The face of a slot nothing has set, GBK.
const std::string& DefaultFontName();

struct FontSlot {
  std::string name = DefaultFontName();
  int size = 16;    // points
  int color = 255;  // colour word: lowest byte red, then green, then blue
  int style = 0;    // 1 bold, 0 normal
  bool operator==(const FontSlot&) const = default;
};

// What a font dialog shows and returns: face, size in points, colour word and the styles.
struct FontChoice {
  std::string name;  // GBK
  int size = 0;      // points
  int color = 0;     // colour word
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikeOut = false;
  bool operator==(const FontChoice&) const = default;
};

// How a button takes the style back from its dialog. kBoldOnly: style 1 marks bold, and only
// a choice of bold with no other style stores 1. kAnyStyle: any non-zero style marks bold, and
// any chosen style (bold, italic, underline or strike-out) stores 1.
enum class BoldTest { kBoldOnly, kAnyStyle };

// The dialog's pre-fill for a slot: face, size and colour of the slot; bold by the test; the
// other styles cleared.
FontChoice ChoiceFromSlot(const FontSlot& slot, BoldTest test);

// The slot a confirmed choice gives: face, size and colour of the choice, style by the test.
FontSlot SlotFromChoice(const FontChoice& choice, BoldTest test);

}  // namespace aqled
