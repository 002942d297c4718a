#include "link/frame_reader.h"

#include <algorithm>

#include "link/frame.h"
#include "link/limits.h"

namespace aqled {

void FrameReader::Append(std::string_view bytes) {
  // Compact before growing so consumed frames never pile up in front.
  if (start_ > 0 && (start_ == buffer_.size() || start_ >= buffer_.size() / 2)) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
  if (resynchronising_) Resynchronise();
}

void FrameReader::Resynchronise() {
  const std::string_view rest = std::string_view(buffer_).substr(start_);
  const std::size_t at = rest.find(kFrameMagic);
  if (at != std::string_view::npos) {
    start_ += at;
    resynchronising_ = false;
    return;
  }
  // The longest end of the bytes that could still grow into the magic.
  std::size_t keep = std::min(rest.size(), kFrameMagic.size() - 1);
  while (keep > 0 && rest.substr(rest.size() - keep) != kFrameMagic.substr(0, keep)) --keep;
  buffer_.erase(0, buffer_.size() - keep);
  start_ = 0;
  if (buffer_.capacity() > kIdleReaderCapacity) buffer_.shrink_to_fit();
}

void FrameReader::Release() {
  if (buffer_.capacity() > kIdleReaderCapacity) {
    std::string().swap(buffer_);
  } else {
    buffer_.clear();
  }
  start_ = 0;
}

void FrameReader::Clear() {
  Release();
  resynchronising_ = false;
}

std::optional<ReceivedChunk> FrameReader::Next() {
  if (resynchronising_) return std::nullopt;
  const std::string_view rest = std::string_view(buffer_).substr(start_);
  if (rest.size() < kFrameHeaderSize) return std::nullopt;
  ReceivedChunk chunk;
  if (!StartsWithMagic(rest)) {
    chunk.kind = ReceivedChunk::Kind::kForeign;
    chunk.bytes.assign(rest.substr(kFrameHeaderSize));
    Release();
    resynchronising_ = true;
    return chunk;
  }
  const FrameHeader header = ReadFrameHeader(rest);
  chunk.totalLength = header.totalLength;
  if (header.totalLength < kFrameHeaderSize || header.totalLength > kMaxFrameLength) {
    chunk.kind = ReceivedChunk::Kind::kBadLength;
    Release();
    resynchronising_ = true;
    return chunk;
  }
  if (rest.size() < header.totalLength) return std::nullopt;
  chunk.kind = ReceivedChunk::Kind::kFrame;
  chunk.frameKind = header.frameKind;
  chunk.bytes.assign(rest.substr(kFrameHeaderSize, header.totalLength - kFrameHeaderSize));
  start_ += header.totalLength;
  if (start_ == buffer_.size()) Release();
  return chunk;
}

}  // namespace aqled
