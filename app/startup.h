// Start-up of the daemon: lock, options, fingerprint, board reset, threads.
#pragma once

constexpr const char* kSyslogIdent = "Tarnel";
constexpr const char* kLockFilePath = "./Tarnel.lck";

// The daemon's entry: returns 0 after --help or --version or when another
// instance holds the lock, -1 on a bad option or a working directory it
// cannot enter; on success it never returns.
int RunTarnel(int argc, char* argv[]);
