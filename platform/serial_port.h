// A serial port: opening and raw 115200 8N1 set-up.
#pragma once

// Opens path read-write, blocking, not as controlling terminal. On failure
// logs and returns -1; the caller counts the fault.
int OpenSerialPort(const char* path);

// Same, without the log line; for retries.
int OpenSerialPortQuietly(const char* path);

// Applies the raw settings and reads them back a bounded number of times
// until they match. Returns fd.
int ConfigurePort(int fd);
