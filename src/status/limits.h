#pragma once
// The limits of the status page and its machine-readable twins. Each keeps what one request
// costs the event loop and the network small, whatever a card or a station page sent.

#include <cstddef>

namespace aqled {

// The page reloads itself this often: often enough to follow a delivery (a slot is hours), rare
// enough that a phone left open on it costs the loop a page every half minute.
inline constexpr int kStatusRefreshSeconds = 30;

// Bytes of one log line on the page: a card's received JSON can run to kilobytes, its head says
// what it was; the daily file keeps the whole line.
inline constexpr std::size_t kStatusLogLineBytes = 300;

// Bytes of any other text that came from outside (a card's name or tag, a reading, a picture's
// name, the reason of a failure): the sources bound most of them already, this bounds them all.
inline constexpr std::size_t kStatusTextBytes = 200;

// Pictures of the program on air shown on the page: four station pages, the text page and a
// full advertisement list fit many times over.
inline constexpr std::size_t kStatusMaxPictures = 64;

// Cards the answers show, one per slot: the session table holds at most 32 slots (the settings'
// kMaxCards, held equal where both are known).
inline constexpr int kStatusMaxCards = 32;

// Milliseconds an answer is kept and sent again before it is built anew: people and Prometheus ask
// every few seconds at most, so a flood of requests costs the loop one build per address and
// interval, and a scrape is never older than this.
inline constexpr int kStatusAnswerKeepMs = 1000;

// Upper bound of one answer with every text at its limit and every text escaped at its
// longest (6 bytes for 1): a phone on a slow link loads it in a second, and a unit test holds
// the builders to it.
inline constexpr std::size_t kStatusMaxAnswerBytes = 256 * 1024;

}  // namespace aqled
