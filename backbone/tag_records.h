// Tag records from the board turned into the RTC's entries: the conversion
// rules. Pure, no I/O.
#pragma once

#include <cstdint>

#include "RFTagDataPackage.pb.h"
#include "tags/tag_decode.h"

// Fills an empty entry from the record: tag identity, visit time, the empty
// extra_info, and the part that the report's kind fills. workingChann is
// the reader's zero-based working channel, which a parameters entry carries.
void FillTagEntry(const TimedSubGMsg& record, int32_t workingChann, RFTagDataPackage* entry);
