// What every fuzz target shares: a private working directory, CSV logs that
// never open, syslog kept inside the process, and the board's request queue
// emptied between runs, so that no state grows over millions of runs.
#pragma once

#include <cstddef>
#include <cstdint>

// Enters a fresh directory under /tmp, once per process; it is removed at
// exit. LogDir names a directory that does not exist in it.
void EnterFuzzDir();

// Opens the tag activity log on /dev/null: tag records are handed over
// only while it is open.
void OpenActivityLogNowhere();

// Replaces the file's contents with the bytes.
void WriteFuzzFile(const char* path, const uint8_t* data, size_t size);

// Settles every request queued for the board, as if it had answered.
void DrainSubGRequests();

// Opens path as standard input; false if it cannot be opened.
bool ReadStdinFrom(const char* path);
