#include "link/frame_reader.h"

#include "link/frame.h"

namespace aqled {

void FrameReader::Append(std::string_view bytes) {
  // Compact before growing so consumed frames never pile up in front.
  if (start_ > 0 && (start_ == buffer_.size() || start_ >= buffer_.size() / 2)) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

void FrameReader::Clear() {
  buffer_.clear();
  buffer_.shrink_to_fit();
  start_ = 0;
}

std::optional<ReceivedChunk> FrameReader::Next() {
  const std::string_view rest = std::string_view(buffer_).substr(start_);
  if (rest.size() < kFrameHeaderSize) return std::nullopt;
  ReceivedChunk chunk;
  if (!StartsWithMagic(rest)) {
    chunk.kind = ReceivedChunk::Kind::kForeign;
    chunk.bytes.assign(rest.substr(kFrameHeaderSize));
    Clear();
    return chunk;
  }
  const FrameHeader header = ReadFrameHeader(rest);
  chunk.totalLength = header.totalLength;
  if (header.totalLength < kFrameHeaderSize || header.totalLength > kMaxFrameLength) {
    chunk.kind = ReceivedChunk::Kind::kBadLength;
    Clear();
    return chunk;
  }
  if (rest.size() < header.totalLength) return std::nullopt;
  chunk.kind = ReceivedChunk::Kind::kFrame;
  chunk.frameKind = header.frameKind;
  chunk.bytes.assign(rest.substr(kFrameHeaderSize, header.totalLength - kFrameHeaderSize));
  start_ += header.totalLength;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return chunk;
}

}  // namespace aqled
