#pragma once
// The limits of the share server. Each bounds what one peer, or all peers together, can make
// the application hold; a peer beyond a limit is refused or cut off, and the server goes on.

#include <cstddef>

namespace aqled {

// Descriptors kept for everything but the connections of the share server and the controller link (the
// standard streams, the daily log file, the TLS backend and the station fetch, the window system and the
// event loop, the files being read and written, the listening sockets): a few dozen at most.
inline constexpr long long kDescriptorReserve = 64;

// Connections held at once: a card downloads over one or two connections, so a LAN of dozens
// of cards stays far below, while the descriptors of the process stay bounded.
inline constexpr unsigned kShareMaxConnections = 1000;

// Connections from one address at once, a card's excepted: a card downloads over one or two
// connections and a browser opens six, so no single host can take more than a thirtieth of the
// places.
inline constexpr unsigned kShareMaxConnectionsPerAddress = 32;

// Places only the addresses of logged-in cards may take (half the places when there are fewer
// than twice as many): a card downloads over one or two connections, so the cards of a full
// controller link are served however many strangers hold the rest.
inline constexpr unsigned kShareCardReserve = 64;

// Memory of one connection, which holds its request head and the head of its answer: four
// times the head of a card's or a browser's request. A longer head is answered with an error
// status and the connection closed, so 1000 connections hold at most 16 MiB.
inline constexpr size_t kShareConnectionMemory = 16 * 1024;

// Seconds a connection may stay silent both ways before it is closed: a card asks for its next
// file at once, so only a stalled or hostile peer waits this long.
inline constexpr unsigned kShareIdleTimeoutSeconds = 30;

// Seconds one request may take, from the connection's start or the end of the previous answer
// to the last byte of its own answer: a picture crosses a LAN in well under a second, and a
// peer that trickles its head or reads its answer a byte at a time holds a slot no longer.
inline constexpr unsigned kShareRequestTimeoutSeconds = 60;

// Descriptors one connection may hold: its socket and the file its answer is read from.
inline constexpr unsigned kShareDescriptorsPerConnection = 2;

// Seconds between two summary lines in the log about peers refused or cut off by a limit, so a
// flood costs one line a minute.
inline constexpr int kShareLimitReportSeconds = 60;

}  // namespace aqled
