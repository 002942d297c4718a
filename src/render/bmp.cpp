#include "render/bmp.h"

#include <cstdint>
#include <limits>

#include "settings/file_io.h"
#include "text/gbk.h"

namespace aqled {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kTableSize = 16 * 4;

void PutU16(QByteArray& out, quint16 v) {
  out.append(static_cast<char>(v & 0xFF));
  out.append(static_cast<char>(v >> 8));
}

void PutU32(QByteArray& out, quint32 v) {
  for (int i = 0; i < 4; ++i) out.append(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutHeaders(QByteArray& out, int width, int height, int bits, quint32 pixelOffset, quint32 pixelBytes,
                quint32 colorsUsed) {
  out.append("BM", 2);
  PutU32(out, pixelOffset + pixelBytes);
  PutU16(out, 0);
  PutU16(out, 0);
  PutU32(out, pixelOffset);
  PutU32(out, kInfoHeaderSize);
  PutU32(out, static_cast<quint32>(width));
  PutU32(out, static_cast<quint32>(height));
  PutU16(out, 1);
  PutU16(out, static_cast<quint16>(bits));
  PutU32(out, 0);  // no compression
  PutU32(out, pixelBytes);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, colorsUsed);
  PutU32(out, 0);
}

quint32 U16At(const QByteArray& b, int at) {
  return static_cast<quint8>(b[at]) | (static_cast<quint32>(static_cast<quint8>(b[at + 1])) << 8);
}

quint32 U32At(const QByteArray& b, int at) { return U16At(b, at) | (U16At(b, at + 2) << 16); }

}  // namespace

const std::array<QRgb, 16>& TableColors() {
  static const std::array<QRgb, 16> colors = {
      qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
      qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(128, 128, 128),
      qRgb(192, 192, 192), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
      qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
  return colors;
}

int NearestTableIndex(QColor color) {
  const auto& table = TableColors();
  int best = 0;
  long best_distance = std::numeric_limits<long>::max();
  for (int i = 0; i < 16; ++i) {
    const long dr = color.red() - qRed(table[i]);
    const long dg = color.green() - qGreen(table[i]);
    const long db = color.blue() - qBlue(table[i]);
    const long d = dr * dr + dg * dg + db * db;
    if (d < best_distance) {
      best_distance = d;
      best = i;
    }
  }
  return best;
}

QColor NearestTableColor(QColor color) { return QColor(TableColors()[NearestTableIndex(color)]); }

namespace {

// Where the pixels start in a file of `bits` bits per pixel, and the bytes of one stored row.
quint32 PixelOffset(int bits) { return kFileHeaderSize + kInfoHeaderSize + (bits == 4 ? kTableSize : 0); }
std::uint64_t RowBytes(int width, int bits) {
  return ((static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bits) + 31) / 32) * 4;
}

}  // namespace

std::optional<quint32> BmpFileSize(int width, int height, int bitsPerPixel) {
  if (width < 1 || height < 1 || (bitsPerPixel != 4 && bitsPerPixel != 32)) return std::nullopt;
  const std::uint64_t size =
      PixelOffset(bitsPerPixel) + RowBytes(width, bitsPerPixel) * static_cast<std::uint64_t>(height);
  if (size > std::numeric_limits<quint32>::max()) return std::nullopt;
  return static_cast<quint32>(size);
}

QByteArray EncodeBmp32(const QImage& source) {
  if (source.isNull()) return {};
  const std::optional<quint32> fileSize = BmpFileSize(source.width(), source.height(), 32);
  if (!fileSize) return {};
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  const int w = image.width();
  const int h = image.height();
  const quint32 pixelBytes = *fileSize - PixelOffset(32);
  QByteArray out;
  PutHeaders(out, w, h, 32, PixelOffset(32), pixelBytes, 0);
  const qsizetype start = out.size();
  out.resize(start + static_cast<qsizetype>(pixelBytes));
  auto* dst = reinterpret_cast<quint8*>(out.data() + start);
  for (int y = h - 1; y >= 0; --y) {
    const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      *dst++ = static_cast<quint8>(qBlue(row[x]));
      *dst++ = static_cast<quint8>(qGreen(row[x]));
      *dst++ = static_cast<quint8>(qRed(row[x]));
      *dst++ = 0;
    }
  }
  return out;
}

QByteArray EncodeBmp4(const QImage& source) {
  if (source.isNull()) return {};
  const std::optional<quint32> fileSize = BmpFileSize(source.width(), source.height(), 4);
  if (!fileSize) return {};
  const QImage image = source.convertToFormat(QImage::Format_RGB32);
  const int w = image.width();
  const int h = image.height();
  const auto rowBytes = static_cast<qsizetype>(RowBytes(w, 4));
  const quint32 offset = PixelOffset(4);
  const quint32 pixelBytes = *fileSize - offset;
  QByteArray out;
  out.reserve(static_cast<qsizetype>(*fileSize));
  PutHeaders(out, w, h, 4, offset, pixelBytes, 16);
  for (QRgb c : TableColors()) {
    out.append(static_cast<char>(qBlue(c)));
    out.append(static_cast<char>(qGreen(c)));
    out.append(static_cast<char>(qRed(c)));
    out.append('\0');
  }
  // Pages hold few colours; remembering the last one spares the search for most pixels.
  QRgb last = qRgb(0, 0, 0);
  int lastIndex = 0;
  QByteArray row(rowBytes, '\0');
  for (int y = h - 1; y >= 0; --y) {
    row.fill('\0');
    const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < w; ++x) {
      const QRgb c = line[x] | 0xFF000000u;
      if (c != last) {
        last = c;
        lastIndex = NearestTableIndex(QColor(c));
      }
      char& b = row[x / 2];
      b = static_cast<char>(static_cast<quint8>(b) | (x % 2 == 0 ? lastIndex << 4 : lastIndex));
    }
    out.append(row);
  }
  return out;
}

BmpReadResult DecodeBmp(const QByteArray& b) {
  BmpReadResult r;
  auto fail = [&r](const char* why) {
    r.error = why;
    r.image = QImage();
    return r;
  };
  if (b.size() < kFileHeaderSize + kInfoHeaderSize) return fail("shorter than the two headers");
  if (b[0] != 'B' || b[1] != 'M') return fail("no BM signature");
  const quint32 offset = U32At(b, 10);
  if (U32At(b, 14) != kInfoHeaderSize) return fail("information header is not 40 bytes");
  const qint32 width = static_cast<qint32>(U32At(b, 18));
  const qint32 rawHeight = static_cast<qint32>(U32At(b, 22));
  const int bits = static_cast<int>(U16At(b, 28));
  if (U16At(b, 26) != 1) return fail("planes is not 1");
  if (U32At(b, 30) != 0) return fail("compressed");
  if (bits != 4 && bits != 32) return fail("neither 4 nor 32 bits per pixel");
  if (width <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<qint32>::min() || width > 65535)
    return fail("bad size");
  const bool bottomUp = rawHeight > 0;
  const qint64 height = bottomUp ? rawHeight : -static_cast<qint64>(rawHeight);
  if (height > 65535) return fail("bad size");
  const auto rowBytes = static_cast<qint64>(RowBytes(width, bits));
  if (offset < static_cast<quint32>(kFileHeaderSize + kInfoHeaderSize) ||
      static_cast<qint64>(offset) + rowBytes * height > b.size())
    return fail("pixel data beyond the end of the file");
  std::array<QRgb, 16> palette{};
  if (bits == 4) {
    if (offset < static_cast<quint32>(kFileHeaderSize + kInfoHeaderSize + kTableSize))
      return fail("no room for the colour table");
    const quint32 used = U32At(b, 46);
    const int entries = used == 0 || used > 16 ? 16 : static_cast<int>(used);
    for (int i = 0; i < entries; ++i) {
      const int at = kFileHeaderSize + kInfoHeaderSize + 4 * i;
      palette[i] =
          qRgb(static_cast<quint8>(b[at + 2]), static_cast<quint8>(b[at + 1]), static_cast<quint8>(b[at]));
    }
  }
  QImage image(width, static_cast<int>(height), QImage::Format_RGB32);
  if (image.isNull()) return fail("cannot allocate the image");
  for (qint64 row = 0; row < height; ++row) {
    const qint64 y = bottomUp ? height - 1 - row : row;
    const char* src = b.constData() + offset + row * rowBytes;
    QRgb* dst = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(y)));
    for (int x = 0; x < width; ++x) {
      if (bits == 32) {
        const auto* p = reinterpret_cast<const quint8*>(src + 4 * x);
        dst[x] = qRgb(p[2], p[1], p[0]);
      } else {
        const quint8 byte = static_cast<quint8>(src[x / 2]);
        dst[x] = palette[x % 2 == 0 ? byte >> 4 : byte & 0x0F];
      }
    }
  }
  r.image = image;
  r.bitsPerPixel = bits;
  return r;
}

WriteStatus WritePicture(const std::filesystem::path& path, const QByteArray& bytes) {
  const FileWriteResult written =
      WriteFileWhole(path, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
  if (written) return {};
  return WriteStatus{Gbk<"无法写入文件 ">() + GbkFromPath(path) + ": " + written.error};
}

}  // namespace aqled
