#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "render/bmp.h"
#include "render_test_util.h"
#include "test_support.h"

namespace aqled {
namespace {

using testing::PathOf;
using testing::ReadAll;

QByteArray Bytes(std::initializer_list<int> values) {
  QByteArray out;
  for (int v : values) out.append(static_cast<char>(v));
  return out;
}

// 3 x 2 pixels: top row red, green, blue; bottom row white, black, (1, 2, 3).
QImage SixPixels() {
  QImage image(3, 2, QImage::Format_RGB32);
  image.setPixel(0, 0, qRgb(255, 0, 0));
  image.setPixel(1, 0, qRgb(0, 255, 0));
  image.setPixel(2, 0, qRgb(0, 0, 255));
  image.setPixel(0, 1, qRgb(255, 255, 255));
  image.setPixel(1, 1, qRgb(0, 0, 0));
  image.setPixel(2, 1, qRgb(1, 2, 3));
  return image;
}

TEST(EncodeBmp32, WritesTheHeadersAndBottomUpPixelsByteForByte) {
  // clang-format off
  const QByteArray expected = Bytes({
      'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                            // file header
      40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 24, 0, 0, 0,  // info header
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
      255, 255, 255, 0, 0, 0, 0, 0, 3, 2, 1, 0,   // bottom row first, blue green red 0
      0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0});  // then the top row
  // clang-format on
  EXPECT_EQ(EncodeBmp32(SixPixels()).toHex(' '), expected.toHex(' '));
}

TEST(EncodeBmp4, WritesHeadersTheColourTableAndPaddedRows) {
  // 5 x 2: a row of 5 pixels takes 3 bytes, padded to 4.
  QImage image(5, 2, QImage::Format_RGB32);
  const QRgb top[5] = {qRgb(255, 0, 0), qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(0, 0, 255),
                       qRgb(255, 255, 0)};
  const QRgb bottom[5] = {qRgb(128, 0, 0), qRgb(0, 128, 0), qRgb(192, 192, 192), qRgb(128, 128, 128),
                          qRgb(0, 255, 255)};
  for (int x = 0; x < 5; ++x) {
    image.setPixel(x, 0, top[x]);
    image.setPixel(x, 1, bottom[x]);
  }
  const QByteArray expected =
      Bytes({'B', 'M', 126, 0, 0, 0, 0, 0, 0, 0, 118, 0, 0, 0,                         // file header
             40, 0, 0, 0, 5, 0, 0, 0, 2, 0, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 8, 0, 0, 0,  // info header
             0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0,
             // the table, blue green red 0, index 0 to 15
             0, 0, 0, 0, 0, 0, 128, 0, 0, 128, 0, 0, 0, 128, 128, 0,          //
             128, 0, 0, 0, 128, 0, 128, 0, 128, 128, 0, 0, 128, 128, 128, 0,  //
             192, 192, 192, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 0,    //
             255, 0, 0, 0, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 0,  //
             0x12, 0x87, 0xE0, 0,                                             // bottom row: 1 2 8 7 14
             0x9F, 0x0C, 0xB0, 0});                                           // top row: 9 15 0 12 11
  EXPECT_EQ(EncodeBmp4(image).toHex(' '), expected.toHex(' '));
}

TEST(EncodeBmp, NullImageGivesNoBytes) {
  EXPECT_TRUE(EncodeBmp32(QImage()).isEmpty());
  EXPECT_TRUE(EncodeBmp4(QImage()).isEmpty());
}

struct FileSizeCase {
  int width, height, bits;
  std::optional<quint32> size;  // headers + rows padded to 4 bytes; nullopt: refused
};

class BmpFileSizeTest : public ::testing::TestWithParam<FileSizeCase> {};

TEST_P(BmpFileSizeTest, CountsIn64BitsAndRefusesWhatTheHeadersCannotHold) {
  const FileSizeCase& c = GetParam();
  EXPECT_EQ(BmpFileSize(c.width, c.height, c.bits), c.size)
      << c.width << " x " << c.height << " x " << c.bits;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BmpFileSizeTest,
    ::testing::Values(FileSizeCase{3, 2, 32, 78u}, FileSizeCase{3, 2, 4, 126u},
                      FileSizeCase{576, 336, 32, 774198u}, FileSizeCase{576, 336, 4, 96886u},
                      FileSizeCase{32767, 32768, 32, 4294836278u},   // just below 4 GiB
                      FileSizeCase{32768, 32768, 32, std::nullopt},  // 4 GiB of pixels
                      FileSizeCase{65536, 65536, 4, 2147483766u},    // width x height past 32 bits
                      FileSizeCase{2147483647, 4, 4, std::nullopt},  // width x 4 past an int
                      FileSizeCase{2147483647, 2147483647, 32, std::nullopt},
                      FileSizeCase{0, 1, 32, std::nullopt}, FileSizeCase{1, -1, 4, std::nullopt},
                      FileSizeCase{1, 1, 8, std::nullopt}));

struct NearestCase {
  QColor color;
  int index;
};

class NearestTableIndexTest : public ::testing::TestWithParam<NearestCase> {};

TEST_P(NearestTableIndexTest, PicksTheClosestTableColour) {
  EXPECT_EQ(NearestTableIndex(GetParam().color), GetParam().index) << GetParam().color.name().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Colours, NearestTableIndexTest,
    ::testing::Values(NearestCase{QColor(255, 0, 0), 9},       // the default font colour
                      NearestCase{QColor(255, 165, 0), 11},    // orange: yellow is 90 away, red 165
                      NearestCase{QColor(100, 0, 0), 1},       //
                      NearestCase{QColor(40, 40, 40), 0},      //
                      NearestCase{QColor(160, 160, 160), 7},   // as near to 7 as to 8: the lower
                      NearestCase{QColor(250, 250, 250), 15},  //
                      NearestCase{QColor(0, 0, 200), 12},      //
                      NearestCase{QColor(0, 140, 130), 6}));

// Round trip through real files: what is written reads back pixel for pixel.
TEST(DecodeBmp, ReadsBackWrittenFiles) {
  QTemporaryDir dir;
  QImage image(7, 3, QImage::Format_RGB32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 7; ++x) image.setPixel(x, y, TableColors()[(x + 5 * y) % 16]);
  ASSERT_TRUE(WritePicture(PathOf(dir) / "a.bmp", EncodeBmp32(image)).ok());
  ASSERT_TRUE(WritePicture(PathOf(dir) / "b.bmp", EncodeBmp4(image)).ok());
  for (const char* name : {"a.bmp", "b.bmp"}) {
    const BmpReadResult read = DecodeBmp(ReadAll(PathOf(dir) / name));
    ASSERT_TRUE(read.error.empty()) << name << ": " << read.error;
    EXPECT_EQ(read.bitsPerPixel, std::string(name) == "a.bmp" ? 32 : 4);
    ASSERT_EQ(read.image.size(), image.size());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 7; ++x)
        EXPECT_EQ(read.image.pixel(x, y) & 0xFFFFFF, image.pixel(x, y) & 0xFFFFFF)
            << name << " " << x << "," << y;
  }
}

TEST(DecodeBmp, RefusesWhatItCannotRead) {
  const QByteArray good = EncodeBmp32(SixPixels());
  std::vector<std::pair<const char*, QByteArray>> bad;
  bad.emplace_back("empty", QByteArray());
  bad.emplace_back("header only", good.left(30));
  bad.emplace_back("pixels cut short", good.left(good.size() - 1));
  QByteArray signature = good;
  signature[0] = 'X';
  bad.emplace_back("signature", signature);
  QByteArray bits = good;
  bits[28] = 24;
  bad.emplace_back("24 bits", bits);
  QByteArray compressed = good;
  compressed[30] = 1;
  bad.emplace_back("compressed", compressed);
  QByteArray huge = good;
  huge[18] = huge[19] = huge[20] = static_cast<char>(0xFF);
  huge[21] = 0x7F;
  bad.emplace_back("huge width", huge);
  QByteArray offset = good;
  offset[10] = static_cast<char>(0xF0);
  bad.emplace_back("offset past the end", offset);
  for (const auto& [what, bytes] : bad) {
    const BmpReadResult read = DecodeBmp(bytes);
    EXPECT_FALSE(read.error.empty()) << what;
    EXPECT_TRUE(read.image.isNull()) << what;
  }
}

TEST(WritePicture, ReplacesTheFileAndWritesEmptyFiles) {
  QTemporaryDir dir;
  const auto path = PathOf(dir) / "1.bmp";
  ASSERT_TRUE(WritePicture(path, QByteArray(500, 'x')).ok());
  ASSERT_TRUE(WritePicture(path, QByteArray("abc")).ok());
  EXPECT_EQ(ReadAll(path), QByteArray("abc"));
  ASSERT_TRUE(WritePicture(path, QByteArray()).ok());
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(WritePicture, MissingFolderIsAnErrorNamingTheFile) {
  QTemporaryDir dir;
  const auto path = PathOf(dir) / "file" / "1.bmp";
  const WriteStatus status = WritePicture(path, QByteArray("abc"));
  ASSERT_FALSE(status.ok());
  EXPECT_NE(status.error.find(testing::G("无法写入文件")), std::string::npos) << testing::U(status.error);
  EXPECT_NE(status.error.find(path.string()), std::string::npos) << testing::U(status.error);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace aqled
