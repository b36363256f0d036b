// A tag message as the board delivers it in an opcode-0 frame: decoded,
// dated, logged and handed over, then each record turned into the RTC's
// entry as the backbone does.
#include <sys/time.h>

#include "RFTagDataPackage.pb.h"
#include "backbone/tag_records.h"
#include "fuzz_support.h"
#include "subg/opcodes.h"
#include "tags/csv_logs.h"
#include "tags/sub_msg_list.h"
#include "tags/tag_decode.h"
#include "tags/tag_messages.h"

// The input is the frame's data: radio byte, tag header, sub-messages.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        EnterFuzzDir();
        OpenActivityLogNowhere();
        return true;
    }();
    (void)ready;
    if (size > static_cast<size_t>(kMaxFrameData)) return 0;
    const timeval arrival{1700000000, 250000};
    static TagMessage decoded;
    DecodeTagMessage(data, static_cast<int>(size), arrival, &decoded);

    ParseTagMsgAt(MakeReply(SubGOp::TagMessage, data, size), arrival);
    WriteQueuedCsvRows();
    TimedSubGMsg record;
    while (TakeTagData(&record) == 1) {
        RFTagDataPackage entry;
        FillTagEntry(record, 0, &entry);
        entry.ByteSizeLong();
    }
    return 0;
}
