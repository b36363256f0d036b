// Count of UART communication faults since start, reported with the
// reader's diagnostics.
#pragma once

#include <mutex>

// Guards the diagnostics record and the UART fault counter.
extern std::mutex DiagMutex;

void IncUARTCommFault();
int UARTCommFaults();
