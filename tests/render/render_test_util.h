#pragma once
// Helpers of the render tests: a temporary picture folder, whole-file reading, pixel scans.

#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QRect>
#include <QString>
#include <QTemporaryDir>
#include <filesystem>
#include <set>
#include <string>

#include "settings/font_slot.h"

namespace aqled::testing {

// The CJK face installed on the build machine; the tests use it so that metrics are those of
// one known font.
inline FontSlot UmingSlot(int points, int color, int style = 0) {
  FontSlot s;
  s.name = "AR PL UMing CN";
  s.size = points;
  s.color = color;
  s.style = style;
  return s;
}

inline std::filesystem::path PathOf(const QTemporaryDir& dir) { return dir.path().toStdString(); }

inline QByteArray ReadAll(const std::filesystem::path& path) {
  QFile f(QString::fromStdString(path.string()));
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

// The colours (as 0xRRGGBB) that occur inside `area` of the image.
inline std::set<unsigned> ColorsIn(const QImage& image, QRect area) {
  std::set<unsigned> colors;
  area = area.intersected(image.rect());
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) colors.insert(image.pixel(x, y) & 0xFFFFFFu);
  return colors;
}

// The bounding box of the pixels of one colour inside `area`; null when there is none.
inline QRect InkBounds(const QImage& image, QRgb color, QRect area) {
  QRect box;
  area = area.intersected(image.rect());
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFFu) == (color & 0xFFFFFFu)) box |= QRect(x, y, 1, 1);
  return box;
}

inline unsigned Rgb(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFFu; }

}  // namespace aqled::testing
