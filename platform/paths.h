// Where the daemon's CSV logs go on this host.
#pragma once

constexpr int kLogFilePathSize = 256;

// Directory of the CSV logs: "/home" when it exists at start, else "/tmp".
// Set by ChooseLogDir before the threads start, read-only afterwards.
extern char LogDir[16];

// Path of the tag activity log from -f; empty: a time-stamped name is made
// up. Set from the options before the threads start.
extern char LogFile[kLogFilePathSize];

void ChooseLogDir();
