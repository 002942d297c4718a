#pragma once
// The limits of the operation log, each with the reason for its value.

namespace aqled {

// Lines gathered for the screen go to it at most once per this many milliseconds: four
// updates a second still read as live, and a flood of lines costs four layouts a second
// instead of one per line.
inline constexpr int kScreenBatchMs = 250;

// The screen control is emptied before a line when it already holds more than this many
// lines, so it never holds more than one line beyond it.
inline constexpr int kScreenLinesBeforeClear = 200;

// Screen lines the log keeps for the status page: two hundred would not fit a phone, fifty
// cover the last delivery and its fetch.
inline constexpr int kRecentScreenLines = 50;

// Daily files kept: today's and those of the four days before. A file dated this many days
// before today or earlier is deleted at start-up and at each day change, so a week of
// switched-off nights cannot pile files up.
inline constexpr int kDailyLogDays = 5;

}  // namespace aqled
