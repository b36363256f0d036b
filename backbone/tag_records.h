// Tag records from the board turned into the RTC's entries: the walk over a
// record's sub-messages and the conversion rules. Pure, no I/O.
#pragma once

#include <cstdint>
#include <functional>

#include "RFTagDataPackage.pb.h"
#include "tags/tag_decode.h"

// What a sub-message of a record becomes in a package.
enum class TagEntryKind { Activity, Diagnostics, Parameters, None };

TagEntryKind EntryKindOf(uint32_t subMsgType);

// Calls visit(kind, offset) for each sub-message the record's header
// counts, offset being the position of its data in the area. Stops where a
// sub-message's data would reach past the area, and never loops on a zero
// length.
void WalkSubMessages(const TimedSubGMsg& record, const std::function<void(TagEntryKind, int)>& visit);

// Tag identity, visit time and the empty extra_info every entry carries.
void convertTagHeaderToTagPack(const TimedSubGMsg& record, RFTagDataPackage* entry);
// position comes from the activity flags.
void convertTagVisitData(const STANDARD_REPORT_STD& report, uint32_t activityFlags, RFTagActivityData* out);
void convertTagDiagData(const TAG_DIAGNOSTICS_STD& diag, RFTagDiagnosticsInformation* out);
void convertTagDiagData(const TAG_DIAGNOSTICS_STD_001& diag, RFTagDiagnosticsInformation* out);
// workingChann is the zero-based working channel of the reader.
void convertTagParamData(const PARAMS_REPORT_STD& params, int32_t workingChann, RFTagParametersInformation* out);

// Fills one entry from the sub-message data at offset; false when the data
// would reach past the area.
bool FillTagEntry(const TimedSubGMsg& record, TagEntryKind kind, int offset, int32_t workingChann,
                  RFTagDataPackage* entry);
