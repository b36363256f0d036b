// A planned stop (procd's stop, a reboot, the terminal closing): SIGTERM,
// SIGINT or SIGHUP save the outgoing queue and end the process with status
// 0. The main thread takes the signals synchronously, so no signal handler
// ever runs code that locks or logs.
#pragma once

// Before any thread starts: the threads inherit the blocked stop signals,
// and a write to a socket whose peer has gone returns EPIPE instead of
// killing the process.
void PrepareStopSignals();

// Waits up to micros for a stop signal; on one, saves the queue and ends
// the process. Returns when the time passed without one.
void StopOnSignalWithin(int micros);
