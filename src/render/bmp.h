#pragma once
// The two BMP formats the display pages are written in, and a reader for them. The controller
// card plays these files as they are, so the layout is fixed to the byte:
//  - a 14-byte file header: "BM", file size, two reserved 0 words, offset of the pixels;
//  - a 40-byte information header: 40, width, height (positive: rows stored bottom-up),
//    1 plane, bits per pixel, compression 0 (none), size of the pixel data,
//    0 and 0 pixels per metre, colours used, 0 important colours;
//  - 32 bits per pixel: no colour table, pixels at offset 54, each stored blue, green, red, 0;
//  - 4 bits per pixel: the 16-entry colour table (each entry blue, green, red, 0) at offset
//    54, 16 colours used, pixels at offset 118, two pixels per byte (left one in the high
//    half), each row padded with zero bytes to a multiple of 4 bytes.
// All numbers are little-endian.

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <array>
#include <filesystem>
#include <optional>
#include <string>

namespace aqled {

// The 16 colours of the 4-bit text page, by index: black, the dark colours, grey, silver, the
// bright colours, white.
const std::array<QRgb, 16>& TableColors();

// The index of the table colour nearest to `color` (least squared distance in red, green and
// blue); on a tie the lower index.
int NearestTableIndex(QColor color);
// The nearest table colour itself.
QColor NearestTableColor(QColor color);

// The size of the file EncodeBmp32 (32 bits) or EncodeBmp4 (4 bits) writes for a width x
// height image, counted in 64 bits; nullopt when a side is below 1, for other bit counts, or
// when the file would not fit the 32-bit size fields of its headers.
std::optional<quint32> BmpFileSize(int width, int height, int bitsPerPixel);

// The image as a 32-bit BMP file. A null image gives an empty array (the file of an empty page),
// and so does an image whose file BmpFileSize refuses.
QByteArray EncodeBmp32(const QImage& image);

// The image as a 4-bit BMP file with the table colours, each pixel as its nearest table colour.
// A null image, or one whose file BmpFileSize refuses, gives an empty array.
QByteArray EncodeBmp4(const QImage& image);

// The outcome of reading a BMP file.
struct BmpReadResult {
  QImage image;  // Format_RGB32; null when `error` is set
  int bitsPerPixel = 0;
  std::string error;  // English, for test failure messages; empty when read
};

// Reads a file written by EncodeBmp32 or EncodeBmp4 (uncompressed, 4 or 32 bits, bottom-up or
// top-down). Anything else, or a file too short for what its headers announce, gives an error.
BmpReadResult DecodeBmp(const QByteArray& bytes);

// The outcome of writing a picture: `error` empty when written, otherwise GBK text for the
// window's error report.
struct WriteStatus {
  std::string error;
  bool ok() const { return error.empty(); }
};

// Writes the encoded picture as the whole file through the one whole-file writer
// (settings/file_io.h), replacing any earlier one; a failed write leaves the earlier file as it
// was. The error names the file and the cause: "无法写入文件 <path>: No space left on device".
// An empty array writes a 0-byte file.
WriteStatus WritePicture(const std::filesystem::path& path, const QByteArray& bytes);

}  // namespace aqled
