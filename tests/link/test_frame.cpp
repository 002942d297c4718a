#include <gtest/gtest.h>

#include <vector>

#include "link/frame.h"
#include "link/frame_reader.h"
#include "link_harness.h"

namespace aqled {
namespace {

using testing::G;
using testing::HandFrame;

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(Frame, DiskQueryCommandHeaderBytes) {
  const std::string frame = BuildFrame(2, R"({"name":"queryDisk","input":{"storagemedia":"emmc"}})");
  ASSERT_EQ(frame.size(), 84u);
  const std::vector<unsigned char> expected = {
      0x42, 0x58, 0x43, 0x50, 0x54, 0x00, 0x00, 0x00, 0x07, 0x03, 0x96, 0x00, 0x34, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x23, 0xDA};
  EXPECT_EQ(Bytes(frame.substr(0, 32)), expected);
  EXPECT_EQ(frame.substr(32), R"({"name":"queryDisk","input":{"storagemedia":"emmc"}})");
}

TEST(Frame, LoginAnswerHeaderBytes) {
  const std::string frame = BuildFrame(1, R"({"name":"Login","output":{"action":"auth","delay":"30"}})");
  ASSERT_EQ(frame.size(), 88u);
  const auto b = Bytes(frame);
  EXPECT_EQ(std::vector<unsigned char>(b.begin() + 4, b.begin() + 8),
            (std::vector<unsigned char>{0x58, 0, 0, 0}));
  EXPECT_EQ(std::vector<unsigned char>(b.begin() + 12, b.begin() + 16),
            (std::vector<unsigned char>{0x38, 0, 0, 0}));
  EXPECT_EQ(b[28], 0x01);
  EXPECT_EQ(b[30], 0x3B);
  EXPECT_EQ(b[31], 0xC1);
}

TEST(Frame, EmptyTextIsABareHeader) {
  const std::string frame = BuildFrame(2, "");
  ASSERT_EQ(frame.size(), 32u);
  EXPECT_EQ(Bytes(frame.substr(4, 4)), (std::vector<unsigned char>{32, 0, 0, 0}));
  EXPECT_EQ(Bytes(frame.substr(12, 4)), (std::vector<unsigned char>{0, 0, 0, 0}));
  EXPECT_EQ(static_cast<unsigned char>(frame[30]), 0);
  EXPECT_EQ(frame, HandFrame("", 2));
}

TEST(Frame, KindOtherThanOneIsACommand) {
  for (int kind : {0, 2, 3, -1, 255}) EXPECT_EQ(BuildFrame(kind, "{}")[28], 2) << kind;
}

TEST(Frame, GbkTextTravelsAsUtf8) {
  // 中文 as GBK in, as UTF-8 on the wire.
  const std::string frame = BuildFrame(2, G("{\"n\":\"中文\"}"));
  EXPECT_EQ(frame, HandFrame("{\"n\":\"\xE4\xB8\xAD\xE6\x96\x87\"}", 2));
}

TEST(Frame, LongPayloadHasNoFourThousandByteLimit) {
  const std::string text(5000, 'a');
  const std::string frame = BuildFrame(2, text);
  EXPECT_EQ(frame, HandFrame(text, 2));
  EXPECT_TRUE(BuildFrame(2, std::string(kMaxFrameLength - 32 + 1, 'a')).empty());
  EXPECT_EQ(BuildFrame(2, std::string(kMaxFrameLength - 32, 'a')).size(), kMaxFrameLength);
}

struct XorCase {
  std::vector<unsigned char> bytes;
  unsigned char expected;
};

class XorChecksumTest : public ::testing::TestWithParam<XorCase> {};

TEST_P(XorChecksumTest, XorsTheGivenBytes) {
  const auto& c = GetParam();
  EXPECT_EQ(XorChecksum(c.bytes.data(), c.bytes.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Frame, XorChecksumTest,
                         ::testing::Values(XorCase{{}, 0x00}, XorCase{{0x42}, 0x42},
                                           XorCase{{0x01, 0x02, 0x04}, 0x07}, XorCase{{0xFF, 0xFF}, 0x00},
                                           XorCase{{0x80, 0x0F, 0xF0, 0x01}, 0x7E}));

TEST(Frame, ChecksumCountIsHonoured) {
  const unsigned char b[] = {0x11, 0x22, 0x44};
  EXPECT_EQ(XorChecksum(b, 2), 0x33);
}

// --- the stream reader -------------------------------------------------------------------

std::vector<std::string> DrainFrames(FrameReader& reader) {
  std::vector<std::string> out;
  while (auto c = reader.Next()) {
    EXPECT_EQ(c->kind, ReceivedChunk::Kind::kFrame);
    out.push_back(c->bytes);
  }
  return out;
}

class SplitReads : public ::testing::TestWithParam<size_t> {};

TEST_P(SplitReads, EveryFrameComesOutOnceInOrder) {
  const std::string stream = HandFrame(R"({"name":"a"})") + HandFrame("") + HandFrame(R"({"name":"ccc"})", 1);
  FrameReader reader;
  std::vector<std::string> got;
  const size_t piece = GetParam();
  for (size_t at = 0; at < stream.size(); at += piece) {
    reader.Append(std::string_view(stream).substr(at, piece));
    for (auto& f : DrainFrames(reader)) got.push_back(f);
  }
  EXPECT_EQ(got, (std::vector<std::string>{R"({"name":"a"})", "", R"({"name":"ccc"})"}));
  EXPECT_EQ(reader.Buffered(), 0u);
}

INSTANTIATE_TEST_SUITE_P(FrameReader, SplitReads, ::testing::Values(1, 7, 31, 32, 33, 44, 1000));

TEST(FrameReader, FewerThanAHeaderWaits) {
  FrameReader reader;
  reader.Append(std::string(31, 'x'));
  EXPECT_FALSE(reader.Next());
  EXPECT_EQ(reader.Buffered(), 31u);
}

TEST(FrameReader, ForeignBytesYieldWhatFollowsOffset32AndDropTheBuffer) {
  FrameReader reader;
  reader.Append(std::string(32, 'x') + "tail" + HandFrame("{}"));
  auto c = reader.Next();
  ASSERT_TRUE(c);
  EXPECT_EQ(c->kind, ReceivedChunk::Kind::kForeign);
  EXPECT_EQ(c->bytes, "tail" + HandFrame("{}"));
  EXPECT_EQ(reader.Buffered(), 0u);
  EXPECT_FALSE(reader.Next());
}

struct BadLength {
  std::int64_t total;
  bool bad;
};

class FrameLengthLimits : public ::testing::TestWithParam<BadLength> {};

TEST_P(FrameLengthLimits, LengthsOutsideTheLimitsAreFramingErrors) {
  FrameReader reader;
  reader.Append(HandFrame("{}", 2, GetParam().total));
  auto c = reader.Next();
  if (GetParam().bad) {
    ASSERT_TRUE(c);
    EXPECT_EQ(c->kind, ReceivedChunk::Kind::kBadLength);
    EXPECT_EQ(c->totalLength, static_cast<std::uint32_t>(GetParam().total));
    EXPECT_EQ(reader.Buffered(), 0u);
    // The stream goes on with the next frame.
    reader.Append(HandFrame("{}"));
    EXPECT_EQ(DrainFrames(reader), std::vector<std::string>{"{}"});
  } else {
    // A legal length that the bytes do not reach yet: the reader waits.
    EXPECT_FALSE(c);
  }
}

INSTANTIATE_TEST_SUITE_P(FrameReader, FrameLengthLimits,
                         ::testing::Values(BadLength{0, true}, BadLength{31, true},
                                           BadLength{kMaxFrameLength + 1, true},
                                           BadLength{0xFFFFFFFFll, true}, BadLength{kMaxFrameLength, false},
                                           BadLength{35, false}));

TEST(FrameReader, ShortTotalLengthCutsThePayload) {
  // The header's totalLength decides, not payloadLength: 32 + 4 takes four payload bytes.
  FrameReader reader;
  reader.Append(HandFrame("abcdef", 2, 36));
  EXPECT_EQ(DrainFrames(reader), std::vector<std::string>{"abcd"});
  EXPECT_EQ(reader.Buffered(), 2u);
}

}  // namespace
}  // namespace aqled
