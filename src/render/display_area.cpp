#include "render/display_area.h"

#include <algorithm>

namespace aqled {

QSize SendArea(int dtw, int dth, const QSize& cardScreen) {
  const int w = dtw > 0 ? dtw : cardScreen.width();
  const int h = dth > 0 ? dth : cardScreen.height();
  if (w <= 0 || h <= 0) return {};
  return QSize(std::min(w, kMaxAreaWidth), std::min(h, kMaxAreaHeight));
}

}  // namespace aqled
