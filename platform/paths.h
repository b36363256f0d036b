// Where the daemon's CSV logs go on this host.
#pragma once

constexpr int kLogFilePathSize = 256;

// Directory of the CSV logs and the other files kept beside them. Set by
// ChooseLogDir before the threads start, read-only afterwards.
extern char LogDir[kLogFilePathSize];

// Path of the tag activity log from -f; empty: a time-stamped name is made
// up. Set from the options before the threads start.
extern char LogFile[kLogFilePathSize];

// The configured directory (--log-dir) when there is one; otherwise
// "/home" when it exists, else "/tmp". A configured path too long for
// LogDir is refused by the option parser.
void ChooseLogDir(const char* configured);

// Whether LogDir lies on a file system in RAM (tmpfs, ramfs): there the
// logs take the reader's memory and last until the next boot.
bool LogDirIsInRam();
