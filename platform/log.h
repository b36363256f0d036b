// The daemon's one way into syslog. Besides sending the line, it drops
// lines beyond the configured level before any other work, keeps the last
// error line for the status file, and holds back the lines of the texts
// whose number an outside party decides (a flood from an RTC or a board
// would otherwise push everything else out of a reader's small log ring):
// of each such text the first few lines of a minute pass as they are, and
// one line at the minute's end says how many more there were, in the
// text's own words and at its level.
#pragma once

#include <syslog.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

void LogLine(int priority, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Lines of a higher priority number than level (LOG_EMERG to LOG_DEBUG) are
// not sent; LOG_DEBUG until it is set.
void SetLogLevel(int level);

// The format strings, compared whole, whose lines are rate-limited. Set once
// at start-up, before any other thread logs; texts must live as long as the
// process.
void LimitLogTexts(const char* const* texts, size_t count);

// Says the counts of the rate-limited texts whose minute has ended. Run at
// least once a second by a thread that may wait on syslog, so that a count
// is said when its minute ends rather than with the text's next line.
void FlushHeldLogLines();

// The line that says how many lines of format were held back: the text
// with "..." for each value and the count, thousands grouped.
std::string HeldBackLine(const char* format, uint64_t count);

// The last line of error priority or worse, held back or not, cut to a
// bounded length; time 0 when there has been none.
struct LoggedError {
    std::string text;
    time_t time = 0;
};
LoggedError LastLoggedError();
