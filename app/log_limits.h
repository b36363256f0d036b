// The log texts whose lines an outside party can repeat at will, and which
// the log module therefore rate-limits.
#pragma once

#include <cstddef>

extern const char* const kRateLimitedLogTexts[];
extern const size_t kRateLimitedLogTextCount;
