#include "tags/tag_dating.h"

namespace {

bool EndsWithJustStoodUp(const TimedSubGMsg* records, int count) {
    return count > 0 && records[count - 1].subMsgType == SubMsgType::JustStoodUp;
}

void SetTime(TimedSubGMsg* record, int64_t seconds, long micros) {
    record->seconds = static_cast<uint32_t>(seconds);
    record->micros = static_cast<uint32_t>(micros);
}

}  // namespace

int JustStoodUpUnitSeconds(uint8_t intervalLength) {
    switch (intervalLength) {
        case 1: return 2;
        case 3: return 4;
        case 6: return 8;
        case 12: return 15;
        default: return 1;
    }
}

void DateTagRecords(TimedSubGMsg* records, int count, const timeval& msgTime, uint8_t intervalLength) {
    int64_t newest = msgTime.tv_sec;
    int general = count;
    if (EndsWithJustStoodUp(records, count)) {
        TimedSubGMsg& stoodUp = records[count - 1];
        SetTime(&stoodUp, newest, msgTime.tv_usec);
        newest -= static_cast<int64_t>(stoodUp.activityFlags) * JustStoodUpUnitSeconds(intervalLength);
        general = count - 1;
    }
    if (general == 0) return;
    uint8_t reference = records[general - 1].msgId;
    for (int i = 0; i < general; ++i) {
        uint8_t steps = static_cast<uint8_t>(reference - records[i].msgId);
        SetTime(&records[i], newest - static_cast<int64_t>(steps) * intervalLength * kIntervalUnitSeconds,
                msgTime.tv_usec);
    }
}

bool IsHandedOver(const TimedSubGMsg& record) { return record.subMsgType != SubMsgType::ActivityNotForwarded; }

ActivityRow ActivityRowOf(const TimedSubGMsg* records, int count, int index) {
    if (records[index].subMsgType == SubMsgType::Activity) return ActivityRow::Activity;
    if (index == count - 1 && EndsWithJustStoodUp(records, count)) return ActivityRow::JustStoodUp;
    return ActivityRow::None;
}
