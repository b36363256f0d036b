// The recording of serial traffic that the daemon's regression test plays
// back: tag messages of every kind, good and malformed, cut into chunks as
// a serial line may deliver them. A simulator script of raw bytes only, so
// that it stays fixed when the generator changes.
#pragma once

#include <string>

std::string ReplayScript();
