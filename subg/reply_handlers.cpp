#include "subg/reply_handlers.h"

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
        default: return kDiscardQueue;
    }
}
