#pragma once
// Every limit of the station fetch, each with the reason for its value. The data site, and
// anybody between it and this PC, is outside the system: these bound what a page can make the
// application spend and what it can put into the log and onto the screen.

#include <QtGlobal>
#include <cstddef>

namespace aqled {

// --- one GET ---------------------------------------------------------------------------------

// Time without progress (connect, bytes sent or received) after which a request is abandoned.
inline constexpr int kHttpTimeoutMs = 30000;
// The whole of one station's GET, redirects included, from the request to the last byte: a
// page of a few kilobytes takes a second; a site that drips bytes must not hold a send for ever.
inline constexpr int kFetchDeadlineMs = 60000;
// Redirects followed for one GET; an answer that would need one more is a failure.
inline constexpr int kMaxRedirects = 5;
// Interim (1xx) answers skipped before the answer; a server sends one or two, more is a loop.
inline constexpr int kMaxInterimAnswers = 8;
// The largest response head and body accepted; a peer announcing or sending more fails. A
// station page is about 10 KB.
inline constexpr qsizetype kMaxHeadBytes = 64 * 1024;
inline constexpr qsizetype kMaxBodyBytes = 32 * 1024 * 1024;
// Bytes the socket holds for one read; the body is read from it straight into its one buffer.
inline constexpr qint64 kSocketReadBufferBytes = 256 * 1024;

// --- what a page may hold ------------------------------------------------------------------

// The longest reading (level, negative ions, PM2.5, ozone) a station page can print: a number
// or a word of a few characters. A longer value is no reading and fails the page.
inline constexpr std::size_t kMaxReadingBytes = 32;
// The longest publish time: "yyyy-mm-dd hh:nn:ss" is 19 bytes, a Chinese form about 30.
inline constexpr std::size_t kMaxPublishTimeBytes = 64;

// --- the log and the window ----------------------------------------------------------------

// A text of the site (a reason phrase, an address it redirected to) longer than this is logged
// cut with its full byte count: a reason is a few words, and the log is for reading.
inline constexpr std::size_t kMaxLoggedSiteText = 256;
// The head of a decoded page the window's hidden work box is given: a whole station page is
// about 10 KB, and laying out megabytes of one line would freeze the window for seconds.
inline constexpr std::size_t kMaxPageTextShown = 16 * 1024;

}  // namespace aqled
