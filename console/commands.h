// The maintenance menu: forty numbered commands that drive the SubG board.
#pragma once

#include <cstdint>

// "Selected Radio - n", the prompt and the forty menu lines, on standard
// error.
void ShowMenu();

// Carries out command number; any other number is refused with
// "Unknown command! ".
void RunConsoleCommand(int32_t number);
