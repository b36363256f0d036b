// The console's side of the terminal: bounded reads of standard input, and
// the way every command puts its request in the board's queue.
#pragma once

#include <cstddef>
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
// radio may be set to.
bool ReadConsoleFreq(float* mhz);

// Shows the frame's length, queues it and pauses, so that a quick typist
// cannot flood the board's queue.
void QueueConsoleRequest(const T7734FrameRequest& request);
