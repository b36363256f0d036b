#include "subg/uart_faults.h"

std::mutex DiagMutex;

namespace {
int UARTCommErrCnt = 0;  // under DiagMutex
}

void IncUARTCommFault() {
    std::lock_guard<std::mutex> lock(DiagMutex);
    ++UARTCommErrCnt;
}

int UARTCommFaults() {
    std::lock_guard<std::mutex> lock(DiagMutex);
    return UARTCommErrCnt;
}
