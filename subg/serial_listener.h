// The serial listener thread: owns the port, gathers bytes, and at every
// 2.5 ms silence runs the link duties and hands the bytes on.
#pragma once

#include <atomic>
#include <ctime>

constexpr int kSilenceMicros = 2500;
constexpr const char* kSerialDevice = "/dev/ttyS0";

// Descriptor of the port, -1 while it is not open. Written by the listener
// before it starts its loop; read by whoever writes the transmit slot.
extern int SerialFd;

// Consecutive silences without a byte; the silence watchdog reads it.
extern std::atomic<int> NoSerCommCounter;
extern std::atomic<time_t> LastSerCommTime;

void* SerialListener(void*);

// Opens the board's port; a failure logs and counts a UART fault.
int OpenLinkPort(const char* path);

// Hands the gathered bytes to the inbound queue if TxMutex is free now;
// otherwise they wait for the next silence. The last duty of every silence.
void HandOnGatheredBytes();
