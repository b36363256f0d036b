#include "tags/tag_decode.h"

#include "platform/byte_order.h"

namespace {

constexpr int kRssiOffsetBehindLength = 2;  // the RSSI byte sits at payload L + 2
constexpr long kDelayUnitSeconds = 300 / 3;

TagDiagCommon DecodeTagDiagCommon(const uint8_t* b) {
    return {b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], GetLE16(b + 8), b[10], static_cast<int8_t>(b[11])};
}

// The walk over one payload: read position and bounds.
struct Cursor {
    const uint8_t* payload;
    int pos;
    int end;
    int Left() const { return end - pos; }
};

SUB_G_MSG_HEADER_STD_001 DecodeTagHeader(const uint8_t* b) {
    return {b[0], b[1], GetLE32(b + 2), b[6], b[7], b[8], b[9]};
}

STANDARD_REPORT_STD DecodeStandardReport(const uint8_t* b) { return {GetLE16(b), GetLE16(b + 2), b[4], b[5]}; }

TAG_DIAGNOSTICS_STD DecodeTagDiag(const uint8_t* b) { return {DecodeTagDiagCommon(b), b[12], b[13], b[14], b[16]}; }

TAG_DIAGNOSTICS_STD_001 DecodeTagDiag001(const uint8_t* b) {
    return {DecodeTagDiagCommon(b), b[12], b[13], b[14], b[15], b[16], b[17], b[19]};
}

PARAMS_REPORT_STD DecodeParamsReport(const uint8_t* b) {
    return {GetLE16(b), b[2], GetLE16(b + 3), GetLE16(b + 5), GetLE16(b + 7), b[9], b[10], b[11], b[12]};
}

TimedSubGMsg NewRecord(const TagMessage& msg, uint8_t type, uint8_t msgId, const TagReport& report) {
    TimedSubGMsg r{};
    r.tagId = msg.header.tagId;
    r.msgId = msgId;
    r.subMsgType = type;
    r.radio = msg.radio;
    r.rssi = msg.rssi;
    r.report = report;
    return r;
}

bool AddRecord(TagMessage* out, const TimedSubGMsg& record) {
    if (out->recordCount >= kMaxTagRecords) return false;
    out->records[out->recordCount++] = record;
    return true;
}

bool AddLogged(TagMessage* out, uint8_t type, int offset, int length) {
    if (out->loggedCount >= kMaxLoggedSubMsgs) return false;
    out->logged[out->loggedCount++] = {type, offset, length};
    return true;
}

bool TakeActivity(Cursor* c, uint8_t type, TagMessage* out) {
    if (c->Left() < kActivityBodySize) return false;
    const uint8_t* body = c->payload + c->pos;
    TimedSubGMsg r = NewRecord(*out, type, body[0], DecodeStandardReport(body + 1));
    r.activityFlags = body[kActivityBodySize - 1];
    c->pos += kActivityBodySize;
    return AddRecord(out, r);
}

bool TakeDiagnostics(Cursor* c, TagMessage* out) {
    const uint8_t* body = c->payload + c->pos;
    const bool v1 = body[0] == kTagDiagVersion;
    int size = v1 ? kTagDiagSize : body[0] == kTagDiag001Version ? kTagDiag001Size : 0;
    if (size == 0 || c->Left() < size) return false;
    c->pos += size;
    TagReport report = v1 ? TagReport(DecodeTagDiag(body)) : TagReport(DecodeTagDiag001(body));
    return AddRecord(out, NewRecord(*out, SubMsgType::Diagnostics, out->header.msgId, report));
}

bool TakeParameters(Cursor* c, TagMessage* out) {
    if (c->Left() < kParamsReportSize) return false;
    const uint8_t* body = c->payload + c->pos;
    c->pos += kParamsReportSize;
    return AddRecord(out, NewRecord(*out, SubMsgType::Parameters, out->header.msgId, DecodeParamsReport(body)));
}

bool TakeLoggedBody(Cursor* c, uint8_t type, int size, TagMessage* out) {
    if (c->Left() < size) return false;
    int offset = c->pos;
    c->pos += size;
    return AddLogged(out, type, offset, size);
}

bool TakeRawData(Cursor* c, TagMessage* out) {
    if (c->Left() < 1) return false;
    int n = c->payload[c->pos];
    if (c->Left() < n + 1) return false;
    int offset = c->pos + 1;
    c->pos += n + 1;
    return AddLogged(out, SubMsgType::RawData, offset, n);
}

// Takes the body of a sub-message whose type byte was just read. False on a
// format error.
bool TakeSubMsg(Cursor* c, uint8_t type, TagMessage* out) {
    switch (type) {
        case SubMsgType::Activity:
        case SubMsgType::ActivityNotForwarded:
        case SubMsgType::JustStoodUp: return TakeActivity(c, type, out);
        case SubMsgType::Diagnostics: return TakeDiagnostics(c, out);
        case SubMsgType::Parameters: return TakeParameters(c, out);
        case SubMsgType::PERTest: return TakeLoggedBody(c, type, kPERTestSize, out);
        case SubMsgType::MEMSCalc: return TakeLoggedBody(c, type, kMEMSCalcSize, out);
        case SubMsgType::RawData: return TakeRawData(c, out);
        case SubMsgType::Skipped:
            if (c->Left() < kSkippedSize) return false;
            c->pos += kSkippedSize;
            return true;
        default: return true;  // unknown: the type byte alone
    }
}

TagDecodeStatus Fail(TagMessage* out, TagDecodeStatus status) {
    out->remaining = 0;
    return status;
}

}  // namespace

MEMSCalcData DecodeMEMSCalc(const uint8_t* b) { return {b[0], GetLE16(b + 1), b[3], b[4], b[5]}; }

TagDecodeStatus DecodeTagMessage(const uint8_t* payload, int length, const timeval& arrival, TagMessage* out) {
    out->recordCount = 0;
    out->loggedCount = 0;
    out->rssi = 0;
    out->msgTime = arrival;
    out->remaining = length > 0 ? length : 0;
    if (length > 2 && payload[2] != kTagFormatId) return Fail(out, TagDecodeStatus::FormatError);
    if (length < kSubMsgsStart) return Fail(out, TagDecodeStatus::HeaderShort);
    out->radio = payload[0];
    out->header = DecodeTagHeader(payload + 1);
    // The RSSI byte must lie behind the header and inside the frame.
    int rssiPos = out->header.packetLength + kRssiOffsetBehindLength;
    if (out->header.packetLength < kMinPacketLength || rssiPos >= length) {
        return Fail(out, TagDecodeStatus::FormatError);
    }
    out->rssi = ConvertRSSI(static_cast<char>(payload[rssiPos]));
    out->msgTime.tv_sec -= static_cast<long>(out->header.delayCount) * out->header.intervalLength * kDelayUnitSeconds;

    Cursor c{payload, kSubMsgsStart, length};
    for (int taken = 0; taken < out->header.subMsgCount; ++taken) {
        // Only the RSSI byte (or nothing) left: deliver what was read.
        if (c.Left() <= 1) {
            c.pos = c.end;
            break;
        }
        uint8_t type = payload[c.pos++];
        if (!TakeSubMsg(&c, type, out)) return Fail(out, TagDecodeStatus::FormatError);
    }
    // The RSSI byte is counted off last; a walk that ran out has nothing left.
    out->remaining = c.Left() > 1 ? c.Left() - 1 : 0;
    return TagDecodeStatus::Parsed;
}
