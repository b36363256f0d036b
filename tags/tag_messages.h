// Tag messages: the radio packets of the animal tags, delivered by the
// board unsolicited (opcode 0).
#pragma once

#include <atomic>
#include <ctime>

// Time of the last tag message; the tag watchdog reads it.
extern std::atomic<time_t> LastTagMessageTime;

// Handles the tag message in BoardMsg. kDiscardQueue on a format error.
int ParseTagMsg();
