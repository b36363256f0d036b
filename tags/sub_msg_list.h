// SubMsgList: the tag records on their way from the serial parser to the
// backbone, oldest first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tags/tag_decode.h"

// Far more than a working backbone ever leaves waiting; it only caps the
// memory of a backbone that has stopped draining.
constexpr size_t kSubMsgListLimit = 100000;

// Appends a copy. Returns 1, or 0 when the list is full and the record was
// not taken.
int AddTagData(const TimedSubGMsg& msg);

// Removes the oldest record into out. Returns 1, or 0 when the list is empty.
int TakeTagData(TimedSubGMsg* out);

size_t SubMsgListSize();

// The records taken into the list since the start: the reader's traffic.
uint64_t TagRecordsReceived();

// The backbone's wait while the list is empty: true when a record has been
// added since the last wait, false after micros without one.
bool WaitForTagData(long long micros);
