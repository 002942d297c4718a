#pragma once
// Every limit of the controller link, each with the reason for its value. Port 8115 listens on
// every address of the PC and the protocol has no authentication, so these bound what any
// device on the network can make the application spend.

#include <cstddef>

namespace aqled {

// --- frames --------------------------------------------------------------------------------

// The largest frame either side accepts, header included: the card's messages are a few
// hundred bytes and the largest command sent (a download of every picture) stays below 4 KiB.
inline constexpr std::size_t kMaxFrameLength = 64 * 1024;
// A read takes at most this much off a socket before its frames are handled, so a connection
// holds at most one frame plus one read.
inline constexpr long long kReadChunk = 64 * 1024;
// Qt stops taking a connection's bytes off the network when its buffer holds this much; the
// kernel then holds the sender back (a connection waiting for its Login answer is not read).
inline constexpr long long kSocketBufferLimit = 64 * 1024;
// An empty frame reader gives back memory above this much, so an idle connection stays small
// after a large frame.
inline constexpr std::size_t kIdleReaderCapacity = 4 * 1024;

// --- connections ---------------------------------------------------------------------------

// Simultaneous controller connections: one card, room for its reconnects and a few tools.
inline constexpr std::size_t kMaxConnections = 64;
// Descriptors kept free for the log file, the share server and the station fetch when the
// open-file limit is low: the connection cap shrinks to stay below the limit minus this.
inline constexpr long long kDescriptorReserve = 64;
// A new connection at the cap (or when no descriptor is left) displaces the oldest connection
// that has not logged in for this long; a card logs in as soon as it has connected.
inline constexpr int kLoginGraceMs = 2000;
// A connection that has not logged in this long after it opened is closed: a card logs in at
// once, anything else has no business on the port.
inline constexpr int kLoginTimeoutMs = 60 * 1000;
// A logged-in card that sends nothing for this long is taken as gone: it heartbeats every 10 s.
inline constexpr int kCardIdleTimeoutMs = 120 * 1000;
// How often the time-outs are looked at and pending summaries written.
inline constexpr int kIdleCheckMs = 1000;
// After the system refused an accept (no descriptor left) the server tries again after this
// pause instead of spinning on the waiting connection.
inline constexpr int kAcceptRetryMs = 250;
// Connections taken off the listening socket per event, so that a storm of connects cannot
// hold the loop; the rest is taken in the next rounds.
inline constexpr int kAcceptBatch = 64;

// --- the log -------------------------------------------------------------------------------

// A received text longer than this is logged cut, with its full byte count: no card message
// comes near it, and the log is for reading.
inline constexpr std::size_t kMaxLoggedText = 4096;
// Lines about bad data (foreign bytes, frame lengths out of range) written in one window; the
// rest is counted and summarised in one line when the window ends.
inline constexpr int kBadDataLinesPerWindow = 10;
// A received text longer than this is never taken for a heartbeat, whose screen lines fold: a
// heartbeat is a few dozen bytes, and a larger frame is spared a second parse.
inline constexpr std::size_t kMaxHeartbeatLength = 1024;
// The window of those summaries, and of the summaries of refused and closed connections.
inline constexpr int kSummaryWindowMs = 1000;

// --- messages ------------------------------------------------------------------------------

// JSON nesting deeper than this is refused while parsing, before any value is built: the
// card's messages nest three deep.
inline constexpr int kMaxJsonDepth = 64;
// A login's barcode or controllername longer than this is malformed: both are short names
// shown in the log and the send confirmation.
inline constexpr std::size_t kMaxIdentityLength = 256;

}  // namespace aqled
