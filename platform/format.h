// printf into a std::string of the length the text needs: log lines and CSV
// rows without a shared buffer or a cut-off.
#pragma once

#include <string>

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
