#include "tags/tag_messages.h"

#include "platform/log.h"

#include "platform/clock.h"
#include "subg/led_word.h"
#include "subg/link_buffers.h"
#include "subg/opcodes.h"
#include "tags/csv_logs.h"
#include "tags/sub_msg_list.h"
#include "tags/tag_dating.h"
#include "tags/tag_decode.h"

std::atomic<time_t> LastTagMessageTime{0};
std::atomic<uint8_t> TagCommTimeout{0};

namespace {

constexpr int kMinTagMsgBytes = 2;
constexpr int kHandOverAttempts = 8;

// The message being handled; rebuilt for every message, parser thread only.
TagMessage Message;

// The tags' diagnostics and parameters logs get their rows from the
// records; activity rows wait for the dating.
struct ReportRow {
    uint32_t tagId;
    time_t now;
    void operator()(const STANDARD_REPORT_STD&) const {}
    void operator()(const PARAMS_REPORT_STD& p) const {
        QueueCsvRow(CsvLog::TagParam, FormatTagParamRow(tagId, now, p));
    }
    template <class TagDiagnostics>
    void operator()(const TagDiagnostics& d) const {
        QueueCsvRow(CsvLog::TagDiag, FormatTagDiagRow(tagId, now, d));
    }
};

void WriteSubMsgRow(const T7734FrameReply& reply, const TagMessage& msg, const LoggedSubMsg& sub,
                    const timeval& arrival) {
    const uint8_t* body = reply.data + sub.offset;
    uint32_t tagId = msg.header.tagId;
    switch (sub.type) {
        case SubMsgType::PERTest:
            QueueCsvRow(CsvLog::PERTest, FormatPERRow(msg.msgTime, tagId, msg.header.msgId, body[0]));
            break;
        case SubMsgType::MEMSCalc:
            QueueCsvRow(CsvLog::MEMSCalc, FormatMEMSCalcRow(tagId, arrival, body));
            break;
        case SubMsgType::RawData:
            QueueCsvRow(CsvLog::RawData, FormatRawDataRow(tagId, arrival, body, sub.length));
            break;
        default: break;
    }
}

bool HandOver(const TimedSubGMsg& record) {
    for (int attempt = 0; attempt < kHandOverAttempts; ++attempt) {
        if (AddTagData(record)) return true;
    }
    return false;
}

// The records go to the backbone whether or not the activity log could be
// opened: a local log must not cost the farm its tag data.
void PackAndLogData(TagMessage& msg) {
    if (msg.recordCount == 0) return;
    DateTagRecords(msg.records, msg.recordCount, msg.msgTime, msg.header.intervalLength);
    for (int i = 0; i < msg.recordCount; ++i) {
        const TimedSubGMsg& record = msg.records[i];
        ActivityRow row = ActivityRowOf(msg.records, msg.recordCount, i);
        int tagId = static_cast<int32_t>(record.tagId);
        if (IsHandedOver(record) && !HandOver(record)) {
            if (row == ActivityRow::JustStoodUp) {
                LogLine(LOG_ERR, "ParseTagMsg_001: Failed to add just stood up data for tag %d", tagId);
            } else {
                LogLine(LOG_ERR, "ParseTagMsg_001: Failed to add data for tag %d", tagId);
            }
        }
        if (row == ActivityRow::Activity) {
            QueueCsvRow(CsvLog::TagsActivity, FormatActivityRow(record));
        } else if (row == ActivityRow::JustStoodUp) {
            QueueCsvRow(CsvLog::TagsActivity, FormatJustStoodUpRow(record));
        }
    }
}

// Returns header byte 0, or -1 on a format error.
int ParseTagMsg_001(const T7734FrameReply& reply, const timeval& arrival) {
    int length = ReplyDataLen(reply);
    TagDecodeStatus status = DecodeTagMessage(reply.data, length, arrival, &Message);
    for (int i = 0; i < Message.recordCount; ++i) {
        std::visit(ReportRow{Message.header.tagId, arrival.tv_sec}, Message.records[i].report);
    }
    for (int i = 0; i < Message.loggedCount; ++i) WriteSubMsgRow(reply, Message, Message.logged[i], arrival);
    if (status == TagDecodeStatus::HeaderShort) {
        LogLine(LOG_DEBUG, "ParseTagMsg_001: MsgLen < sizeof(SUB_G_MSG_HEADER_STD_001) (MsgLen= %d)", length);
    }
    if (status != TagDecodeStatus::Parsed) return -1;
    PackAndLogData(Message);
    return Message.header.packetLength;
}

// The parser holds TxMutex: the LED word goes straight into the slot.
void SignalTagTraffic() {
    uint8_t word = LedsWord.fetch_or(LedBit::TagTraffic) | LedBit::TagTraffic;
    TagCommTimeout = 0;
    SendMsgHoldingLock(MakeRequest(SubGOp::LedWord, &word, 1));
    CheckMsgInQHoldingLock();
}

}  // namespace

ReplyResult ParseTagMsg(const T7734FrameReply& reply) {
    timeval now;
    gettimeofday(&now, nullptr);
    return ParseTagMsgAt(reply, now);
}

ReplyResult ParseTagMsgAt(const T7734FrameReply& reply, const timeval& arrival) {
    if (ReplyDataLen(reply) < kMinTagMsgBytes) {
        LogLine(LOG_DEBUG, "ParseTagMsg: MsgLen < HEADER_IDENTIFIER_SIZE");
        return kFrameTaken;
    }
    if (ParseTagMsg_001(reply, arrival) < 0) {
        LogLine(LOG_ERR, "ParseTagMsg: ParsedBytes == -1");
        return kDiscardQueue;
    }
    ++PacketCounter;
    LastTagMessageTime = NowSeconds();
    SignalTagTraffic();
    return kFrameTaken;
}
