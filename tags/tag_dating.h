// Dating of a tag message's records: the message carries no time per
// report, so each report is dated back from the message time by its
// sequence number. Pure logic.
#pragma once

#include <sys/time.h>

#include <cstdint>

#include "tags/tag_decode.h"

constexpr long kIntervalUnitSeconds = 300;

// Seconds per unit of a just-stood-up report's time since standing up.
int JustStoodUpUnitSeconds(uint8_t intervalLength);

// Sets the receive time of the count records of one message. A
// just-stood-up report at the end of the table is dated at msgTime and the
// others back from msgTime minus its time since standing up; every other
// record is dated one interval per sequence step before the last one
// (steps counted on 8 bits, so sequence numbers may wrap).
void DateTagRecords(TimedSubGMsg* records, int count, const timeval& msgTime, uint8_t intervalLength);

// Whether the backbone gets the record.
bool IsHandedOver(const TimedSubGMsg& record);

enum class ActivityRow { None, Activity, JustStoodUp };

// Which row of the tags' activity log the record at index gets.
ActivityRow ActivityRowOf(const TimedSubGMsg* records, int count, int index);
