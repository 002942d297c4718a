#pragma once
// The display area a send draws its pages at.

#include <QSize>

namespace aqled {

// The largest area the display settings offer. A card announcing a larger screen gets pages of
// this size, so a wrong or hostile login cannot make the window allocate without bound.
inline constexpr int kMaxAreaWidth = 576;
inline constexpr int kMaxAreaHeight = 336;

// The width and height of the display settings (dtw, dth), each 0 replaced by the card's
// screen size (`cardScreen`, an invalid size when no card is logged in) and brought into
// 1..kMaxAreaWidth / 1..kMaxAreaHeight. An empty size when a side stays 0 or below.
QSize SendArea(int dtw, int dth, const QSize& cardScreen);

}  // namespace aqled
