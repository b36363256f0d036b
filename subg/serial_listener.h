// The serial listener thread: owns the port, gathers bytes, and at every
// 2.5 ms silence runs the link duties and hands the bytes on.
#pragma once

#include <atomic>
#include <ctime>

constexpr int kSilenceMicros = 2500;

// Consecutive silences without a byte; the silence watchdog reads it.
extern std::atomic<int> NoSerCommCounter;
extern std::atomic<time_t> LastSerCommTime;

void* SerialListener(void*);

// Hands the gathered bytes to the inbound queue if TxMutex is free now;
// otherwise they wait for the next silence. The last duty of every silence.
void HandOnGatheredBytes();
