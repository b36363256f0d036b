// The SubG board's reset line, GPIO 109 through sysfs.
#pragma once

#include <string>

// Drives the line low for 500 ms, then high. Returns 0 when a GPIO file
// cannot be opened, 1 otherwise.
int HWResetSubGBoard();

// Drives the line low for lowMicros, then high. Returns false when a GPIO
// file cannot be opened.
bool PulseResetLine(int lowMicros);

// The directory holding "direction" and "value"; tests point it elsewhere.
void SetResetLineDir(const std::string& dir);
