#include "tags/sub_g_diagnostics.h"

#include <syslog.h>

#include "params/working_params.h"
#include "subgconfig/versions.h"

namespace {
constexpr int kDiagSizeWithFreq = 146;  // board software up to 1.6.9
constexpr int kDiagSizeNoFreq = 138;
}  // namespace

ReplyResult ParseDiagnostics(const T7734FrameReply& reply) {
    bool withFreq = IsOldBoardSoftware(CurrentSubGAppVersion());
    if (ReplyDataLen(reply) < (withFreq ? kDiagSizeWithFreq : kDiagSizeNoFreq)) {
        syslog(LOG_DEBUG, withFreq ? "ParseDiagnostics: MsgLen < DIAG_BKPSRAM_SIZE"
                                   : "ParseDiagnostics: MsgLen < DIAG_BKPSRAM_SIZE_NO_FREQ");
        return kDiscardQueue;
    }
    return kFrameTaken;
}
