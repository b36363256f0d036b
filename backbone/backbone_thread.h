// The backbone thread: owns the link to the RTC.
#pragma once

#include <atomic>
#include <cstdint>

// 1 while the reader is connected to the RTC.
extern std::atomic<uint8_t> RTCConnected;

// arg points to the reader's 64-bit MAC address, alive for the whole process.
void* ZemloBackboneTh(void* arg);
