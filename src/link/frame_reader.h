#pragma once
// Cuts one connection's byte stream into frames. A TCP read is not a frame: bytes are
// appended as they arrive and every whole frame (its length is the header's totalLength) is
// taken off the front on its own, in arrival order.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace aqled {

// What the reader found at the front of the buffered bytes.
struct ReceivedChunk {
  enum class Kind {
    kFrame,      // a whole frame: `bytes` is its payload
    kForeign,    // 32 or more bytes without the magic: `bytes` is what follows offset 32
    kBadLength,  // a header whose totalLength is below 32 or above kMaxFrameLength
  };
  Kind kind = Kind::kFrame;
  std::string bytes;
  std::uint32_t totalLength = 0;  // the header's value for kFrame and kBadLength
  std::uint8_t frameKind = 0;     // kFrame only
};

class FrameReader {
 public:
  // Appends bytes as read; nothing is examined until Next(), except after a foreign or
  // bad-length chunk: then every byte before the next magic is dropped here, unseen, so that
  // a run of bad data is reported once and the stream picks up again at the next frame.
  void Append(std::string_view bytes);

  // The next chunk off the front, or nothing while fewer than 32 bytes, or fewer than a whole
  // frame, are buffered. A foreign or bad-length chunk drops every byte buffered with it, so
  // the buffer never holds more than one frame's worth beyond the last Append.
  std::optional<ReceivedChunk> Next();

  // Bytes held, waiting for the rest of a frame.
  std::size_t Buffered() const { return buffer_.size() - start_; }
  // Memory the buffer holds, for the bound of an idle connection.
  std::size_t Capacity() const { return buffer_.capacity(); }
  // Forgets everything buffered and any run of bad data.
  void Clear();

 private:
  // Drops the bytes before the next magic; keeps a tail that may be the magic's beginning.
  void Resynchronise();
  // Empties the buffer, giving back memory a large frame left behind.
  void Release();

  std::string buffer_;
  std::size_t start_ = 0;         // bytes before it are consumed; compacted lazily
  bool resynchronising_ = false;  // after bad data: waiting for the next magic
};

}  // namespace aqled
