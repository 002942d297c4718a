#pragma once
// Controller frames: a 32-byte header followed by a JSON text in UTF-8. The card checks the
// header, so every byte of it is fixed here; the application never examines the header of a
// received frame beyond its magic and its total length.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "link/limits.h"

namespace aqled {

// Header layout (little-endian, unsigned): 0 magic "BXCP", 4 totalLength, 8 protocolBytes
// 07 03 96 00, 12 payloadLength, 16..27 zero, 28 frameKind, 29 zero, 30 payloadXor, 31 headerXor.
inline constexpr std::size_t kFrameHeaderSize = 32;
inline constexpr std::string_view kFrameMagic = "BXCP";

// frameKind 1 marks the Login answer (the one message whose JSON carries "output"); every
// command travels as 2.
inline constexpr int kFrameKindLogin = 1;
inline constexpr int kFrameKindCommand = 2;

// The XOR of the first `count` bytes; 0 when `count` is 0.
std::uint8_t XorChecksum(const void* bytes, std::size_t count);

// The frame for a payload already in UTF-8: kind 1 gives frameKind 1, any other value 2.
// Returns an empty string when the frame would exceed kMaxFrameLength.
std::string BuildFrameUtf8(int kind, std::string_view utf8Payload);

// The frame for a GBK JSON text (the payload is its UTF-8 form); empty when too long.
std::string BuildFrame(int kind, std::string_view gbkText);

// The header fields a reader looks at; payloadLength and the checksums of a received frame
// are never examined, totalLength alone decides where the frame ends.
struct FrameHeader {
  std::uint32_t totalLength = 0;
  std::uint8_t frameKind = 0;
};

// True when the bytes start with the magic "BXCP" (false for fewer than four bytes).
bool StartsWithMagic(std::string_view bytes);

// Reads totalLength and frameKind of a header; `bytes` must hold at least 32 bytes.
FrameHeader ReadFrameHeader(std::string_view bytes);

}  // namespace aqled
