// Tag messages: the radio packets of the animal tags, delivered by the
// board unsolicited (opcode 0).
#pragma once

#include <sys/time.h>

#include <atomic>
#include <ctime>

// Time of the last tag message; the tag watchdog reads it.
extern std::atomic<time_t> LastTagMessageTime;

// Handles the tag message in BoardMsg: writes the rows of its logged
// sub-messages, dates its records, hands them to the backbone and logs the
// activity rows, then lights the tag-traffic LED. kDiscardQueue on a format
// error, which drops the message's records.
int ParseTagMsg();

// The same for a message that arrived at the given time; ParseTagMsg takes
// the time of day.
int ParseTagMsgAt(const timeval& arrival);
