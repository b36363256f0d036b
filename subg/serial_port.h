// The serial port to the SubG board: opening and raw 115200 8N1 set-up.
#pragma once

constexpr const char* kSerialDevice = "/dev/ttyS0";

// Descriptor of the port, -1 while it is not open. Written by the listener
// before it starts its loop; read by whoever writes the transmit slot.
extern int SerialFd;

// Opens path read-write, blocking, not as controlling terminal. On failure
// logs, counts a UART fault and returns -1.
int OpenSerialPort(const char* path);

// Same, without the log line and the fault; for retries.
int OpenSerialPortQuietly(const char* path);

// Applies the raw settings and reads them back a bounded number of times
// until they match. Returns fd.
int ConfigurePort(int fd);
