// The console's side of the terminal: bounded reads of standard input, and
// the way every command puts its request in the board's queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "subg/frame.h"

// True once standard input has ended (the terminal closed, a redirected file
// ran out): every later read would fail at once.
bool ConsoleInputEnded();

enum class ConsoleLine { Read, TooLong, Failed };

// One line of at most maxChars characters, its line end counted, into *line
// without the line end. The rest of a longer line is read away, so that it
// never counts as the next answer. A failed read is reported on standard
// error with "fgets".
ConsoleLine ReadConsoleLine(std::string* line, size_t maxChars);

// A frequency typed by the operator; false, with *mhz untouched, for one no
// radio may be set to. A number outside the radios' band is refused with a
// line that says so; a blank or non-numeric answer is refused quietly.
bool ReadConsoleFreq(float* mhz);

// A setting typed as a whole number, from lowest to highest.
struct ConsoleNumberRange {
    const char* name;  // "Delay"
    int32_t lowest;
    int32_t highest;
    const char* unit;  // " ms", or "" for a count
};

// Reads the number with ParseNum; false, with *value untouched, for a blank
// or non-numeric answer and at the end of input (quietly), and for a number
// outside the range, refused with "<name> must be <lowest> to <highest><unit>".
bool ReadConsoleNumber(const ConsoleNumberRange& range, int32_t* value);

// Shows the frame's length, queues it and pauses, so that a quick typist
// cannot flood the board's queue.
void QueueConsoleRequest(const T7734FrameRequest& request);
