// Tag messages: the radio packets of the animal tags, delivered by the
// board unsolicited (opcode 0).
#pragma once

#include <sys/time.h>

#include <atomic>
#include <ctime>

#include "subg/reply.h"

// Time of the last tag message; the tag watchdog reads it.
extern std::atomic<time_t> LastTagMessageTime;
// 1 after a reset for lack of tag messages, until the next tag message.
extern std::atomic<uint8_t> TagCommTimeout;

// Handles a tag message: writes the rows of its logged
// sub-messages, dates its records, hands them to the backbone and logs the
// activity rows, then lights the tag-traffic LED. kDiscardQueue on a format
// error, which drops the message's records.
ReplyResult ParseTagMsg(const T7734FrameReply& reply);

// The same for a message that arrived at the given time; ParseTagMsg takes
// the time of day.
ReplyResult ParseTagMsgAt(const T7734FrameReply& reply, const timeval& arrival);
