#include "subg/reply_handlers.h"

#include <syslog.h>

#include "subg/opcodes.h"
#include "subg/serial_parser.h"
#include "subgconfig/frequencies.h"
#include "subgconfig/versions.h"
#include "tags/sub_g_diagnostics.h"
#include "tags/tag_messages.h"

namespace {

constexpr uint8_t kParamsInPlace = 1;

int HandleParamCheck() {
    if (BoardMsgDataLen() < 1) return kDiscardQueue;
    // Any other answer means the board lost its parameters: send them all.
    if (BoardMsg.data[0] != kParamsInPlace) SetSubGBoardParameters();
    return kFrameTaken;
}

int HandleLedWordAck() { return BoardMsgDataLen() < 1 ? kDiscardQueue : kFrameTaken; }

// The board acknowledges settings with a reply of their opcode. The frame's
// length and checksum were good, so the stream is in step: skipping just this
// frame keeps the tag messages that follow it in the same chunk.
int SkipUnhandledReply() {
    syslog(LOG_DEBUG, "SerialParser: no handler for opcode %d, frame skipped", BoardMsg.opcode);
    return kFrameTaken;
}

}  // namespace

int DispatchReply() {
    switch (BoardMsg.opcode) {
        case SubGOp::TagMessage: return ParseTagMsg();
        case SubGOp::ParamCheck: return HandleParamCheck();
        case SubGOp::SetFreq: return HandleSetFreq();
        case SubGOp::GetDiagnostics: return ParseDiagnostics();
        case SubGOp::GetSWVersion: return HandleGetSWVersion();
        case SubGOp::GetFreq: return HandleGetFreq();
        case SubGOp::LedWord: return HandleLedWordAck();
        case SubGOp::GetAppChecksum: return ParseSUbGCheckSum();
        case SubGOp::GetServiceInfo: return ParseServiceInfo();
        case SubGOp::GetOutputPower: return ParseOutPutPower();
        case SubGOp::GetSteadyStateInterval: return ParseSteadyStateInterval();
        default: return SkipUnhandledReply();
    }
}
