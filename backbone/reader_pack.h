// The switch of the package trace: every package written to the RTC is
// also copied, as text, into a CSV file of its own.
#pragma once

#include <cstdint>

// 1 when PRINT_READ was in the environment at start-up; set before any
// thread starts and only read afterwards.
extern uint8_t PrintReaderData;
