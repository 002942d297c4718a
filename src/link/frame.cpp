#include "link/frame.h"

#include "text/gbk.h"

namespace aqled {
namespace {

void PutLe32(std::string& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t GetLe32(std::string_view in, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(in[at + i]);
  return v;
}

}  // namespace

std::uint8_t XorChecksum(const void* bytes, std::size_t count) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  std::uint8_t x = 0;
  for (std::size_t i = 0; i < count; ++i) x ^= p[i];
  return x;
}

std::string BuildFrameUtf8(int kind, std::string_view utf8Payload) {
  const std::size_t n = utf8Payload.size();
  if (n > kMaxFrameLength - kFrameHeaderSize) return {};
  std::string frame(kFrameHeaderSize + n, '\0');
  frame.replace(0, 4, kFrameMagic);
  PutLe32(frame, 4, static_cast<std::uint32_t>(n + kFrameHeaderSize));
  frame[8] = 0x07;
  frame[9] = 0x03;
  frame[10] = static_cast<char>(0x96);
  frame[11] = 0x00;
  PutLe32(frame, 12, static_cast<std::uint32_t>(n));
  frame[28] = static_cast<char>(kind == kFrameKindLogin ? 1 : 2);
  frame.replace(kFrameHeaderSize, n, utf8Payload);
  frame[30] = static_cast<char>(XorChecksum(utf8Payload.data(), n));
  frame[31] = static_cast<char>(XorChecksum(frame.data(), 31));
  return frame;
}

std::string BuildFrame(int kind, std::string_view gbkText) {
  return BuildFrameUtf8(kind, GbkToUtf8(gbkText));
}

bool StartsWithMagic(std::string_view bytes) { return bytes.substr(0, 4) == kFrameMagic; }

FrameHeader ReadFrameHeader(std::string_view bytes) {
  FrameHeader h;
  h.totalLength = GetLe32(bytes, 4);
  h.frameKind = static_cast<std::uint8_t>(bytes[28]);
  return h;
}

}  // namespace aqled
