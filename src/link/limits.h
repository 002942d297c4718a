#pragma once
// Every limit of the controller link, each with the reason for its value. Port 8115 listens on
// every address of the PC and the protocol has no authentication, so these bound what any
// device on the network can make the application spend.

#include <cstddef>

#include "settings/program_settings.h"

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

// Simultaneous controller connections: the cards (kMaxCards at most), room for their reconnects
// and a few tools.
inline constexpr std::size_t kMaxConnections = 64;
// A new connection at the cap (or when no descriptor is left) displaces the oldest connection
// that has not logged in for this long; a card logs in as soon as it has connected.
inline constexpr int kLoginGraceMs = 2000;
// A connection that has not logged in this long after it opened is closed: a card logs in at
// once, anything else has no business on the port.
inline constexpr int kLoginTimeoutMs = 60 * 1000;
// A logged-in card that sends nothing for this long is taken as gone: it heartbeats every 10 s.
inline constexpr int kCardIdleTimeoutMs = 120 * 1000;
// How often the link's one periodic check runs: the limits of awaited deliveries, the time-outs
// and the pending summaries. A second is far below every limit it checks.
inline constexpr int kPeriodicCheckMs = 1000;
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
// heartbeat is a few dozen bytes, so a larger frame of that name gets a line of its own.
inline constexpr std::size_t kMaxHeartbeatLength = 1024;
// The window of those summaries, and of the summaries of refused and closed connections.
inline constexpr int kSummaryWindowMs = 1000;
// What a log line costs beyond its text in the daily file: the time stamp "hh:nn:ss:zzz " and
// the line end.
inline constexpr long long kLogLineOverhead = 15;
// The window of the budgets below: long enough that a card's conversation averages out, short
// enough that a burst's summary comes within a minute.
inline constexpr int kPeerLogWindowMs = 60 * 1000;
// Log bytes per window that the frames of the card's connection (the one holding its slot,
// kept across its reconnects) may cause: received lines, the exchange's lines and the commands
// they send. A card's minute holds 6 heartbeats (about 0.5 KiB) and at most one delivery's
// answers and commands (below 12 KiB with a 4 KiB download command), so this never cuts a card.
inline constexpr long long kCardLogBytesPerWindow = 32 * 1024;
// Log bytes per window that every connection without a slot may cause together: one budget for
// all of them, so that opening new connections does not renew it. A card's own lines before its
// login are one received line; this leaves room for a dozen cut frames of 4 KiB.
inline constexpr long long kStrangerLogBytesPerWindow = 64 * 1024;
// A connection that sends more frames than this within kFloodWindowMs (on the link's clock) is closed:
// a card sends a heartbeat every 10 s and a delivery's answers come one per command, a few
// dozen at most in a burst, so 20 frames a second is far beyond any card.
inline constexpr int kFloodFrames = 200;
inline constexpr int kFloodWindowMs = 10 * 1000;

// --- cards --------------------------------------------------------------------------------

// The session table holds at most kMaxCards slots (settings/program_settings.h, where
// config.ini Set/MaxCards is read): every card, each with a reconnect under way, still fits
// within kMaxConnections.
static_assert(2 * static_cast<std::size_t>(kMaxCards) <= kMaxConnections);
// Barcodes off the config.ini Set/Cards list whose refusal one connection has logged; further
// ones on that connection are refused without a line. A card sends one barcode, so a connection
// trying more is not a card, and the memory of what was logged stays small.
inline constexpr std::size_t kMaxRefusedBarcodesPerConnection = 8;

// --- messages ------------------------------------------------------------------------------

// JSON nesting deeper than this is refused while parsing, before any value is built: the
// card's messages nest three deep.
inline constexpr int kMaxJsonDepth = 64;
// A login's barcode or controllername longer than this is malformed: both are short names
// shown in the log and the send confirmation.
inline constexpr std::size_t kMaxIdentityLength = 256;

}  // namespace aqled
