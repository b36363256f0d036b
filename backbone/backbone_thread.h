// The backbone thread: owns the link to the RTC.
#pragma once

// arg points to the reader's 64-bit MAC address, alive for the whole process.
void* ZemloBackboneTh(void* arg);
