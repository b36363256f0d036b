#include "app/reply_table.h"

#include "subg/led_word.h"
#include "subg/opcodes.h"
#include "subgconfig/frequencies.h"
#include "subgconfig/versions.h"
#include "tags/csv_logs.h"
#include "tags/sub_g_diagnostics.h"
#include "tags/tag_messages.h"

ReplyDispatch BoardReplyDispatch() {
    ReplyDispatch dispatch;
    auto& h = dispatch.handlers;
    h[SubGOp::TagMessage] = ParseTagMsg;
    h[SubGOp::ParamCheck] = HandleParamCheck;
    h[SubGOp::SetFreq] = HandleSetFreq;
    // The diagnostics report names the board's application version, which
    // subgconfig/ keeps above the diagnostics' own layer.
    h[SubGOp::GetDiagnostics] = [](const T7734FrameReply& reply) { return ParseDiagnostics(reply, SubGSwVersion); };
    h[SubGOp::GetSWVersion] = HandleGetSWVersion;
    h[SubGOp::GetFreq] = HandleGetFreq;
    h[SubGOp::LedWord] = HandleLedWordAck;
    h[SubGOp::GetAppChecksum] = ParseSUbGCheckSum;
    h[SubGOp::GetServiceInfo] = ParseServiceInfo;
    h[SubGOp::GetOutputPower] = ParseOutPutPower;
    h[SubGOp::GetSteadyStateInterval] = ParseSteadyStateInterval;
    dispatch.afterPass = WriteQueuedCsvRows;
    return dispatch;
}
