#include "backbone/msg_queue.h"

#include <syslog.h>

#include <algorithm>
#include <exception>

#include "platform/clock.h"

namespace {

// A clock correction up to this size leaves queued time stamps alone.
constexpr long kClockJumpToleranceSeconds = 10;
// A correction of a full queue touches a million records: log the first
// few, then one line for all.
constexpr int kMaxShiftLines = 16;
constexpr size_t kMaxAckWaiting = 1024;

bool SamePackage(const WaitingMsgSt& a, const WaitingMsgSt& b) {
    return a.MsgIndex == b.MsgIndex && a.PackageTime == b.PackageTime;
}

bool IsRedundant(const WaitingMsgSt& entry) { return (entry.Flags & kRedundantFlag) != 0; }

bool HasReports(const ZemloReaderDataPackage& package) {
    return package.has_channel_survey_results() || package.has_reader_diag_info() ||
           package.has_reader_params_info() || package.has_reader_bit_results() || package.has_extra_info();
}

// Moves the visit time of every record of entry by deltaSeconds; *logged
// counts the lines written so far. False when the entry cannot be coded.
bool ShiftVisitTimes(WaitingMsgSt* entry, long deltaSeconds, int* logged) {
    ZemloReaderDataPackage package;
    if (!package.ParsePartialFromString(entry->Msg)) return false;
    const int64_t deltaMillis = static_cast<int64_t>(deltaSeconds) * 1000;
    for (RFTagDataPackage& record : *package.mutable_tags_data()) {
        const uint64_t before = record.visit_timestamp();
        const uint64_t after = before + static_cast<uint64_t>(deltaMillis);  // wraps as a signed addition
        record.set_visit_timestamp(after);
        if (++*logged <= kMaxShiftLines) {
            syslog(LOG_DEBUG, "UpdateDataTime: Tag ID %u, Tag MsgID %u: updateing time stamp %llu --> %llu",
                   record.tag_id(), record.tag_msg_id(), static_cast<unsigned long long>(before),
                   static_cast<unsigned long long>(after));
        }
    }
    return package.SerializePartialToString(&entry->Msg);
}

}  // namespace

bool MakeWaitingMsg(const ZemloReaderDataPackage& package, uint8_t flags, WaitingMsgSt* entry) {
    try {
        entry->Msg.clear();
        if (!package.SerializePartialToString(&entry->Msg)) return false;
        entry->MsgIndex = package.message_header().message_index();
        entry->PackageTime = package.package_timestamp();
        entry->TagRecords = package.tags_data_size();
        entry->Flags = flags;
        entry->CarriesReports = HasReports(package);
        return true;
    } catch (const std::exception& e) {
        syslog(LOG_ERR, "MakeWaitingMsg: caught an exception (%s)", e.what());
        return false;
    }
}

void PushMsgToLimitedQ(WaitingMsgQ* queue, WaitingMsgSt entry, const std::function<void(WaitingMsgSt&)>& leaving) {
    while (queue->TagDataCount + entry.TagRecords > kMaxQueuedTagRecords && !queue->Entries.empty()) {
        if (leaving) leaving(queue->Entries.front());
        queue->TagDataCount -= queue->Entries.front().TagRecords;
        queue->Entries.pop_front();
    }
    queue->TagDataCount += entry.TagRecords;
    queue->IndexBound = std::max(queue->IndexBound, entry.MsgIndex);
    queue->Entries.push_back(std::move(entry));
}

void OutgoingQueue::AddMsgToQ(const ZemloReaderDataPackage& package) {
    WaitingMsgSt entry;
    if (!MakeWaitingMsg(package, 0, &entry)) {
        syslog(LOG_ERR, "AddMsgToQ: package %llu could not be serialised",
               static_cast<unsigned long long>(package.message_header().message_index()));
        return;
    }
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    const auto& entries = RTCMsgQ.Entries;
    if (entry.MsgIndex <= RTCMsgQ.IndexBound &&
        std::any_of(entries.begin(), entries.end(), [&](const WaitingMsgSt& e) { return SamePackage(e, entry); }))
        return;
    AppendToJournal(entry);
    PushMsgToLimitedQ(&RTCMsgQ, std::move(entry), [this](WaitingMsgSt& dropped) { LeaveQueue(dropped); });
}

bool OutgoingQueue::CopyFrontMsgs(size_t count, std::vector<WaitingMsgSt>* copies, bool* more) {
    std::unique_lock<std::mutex> lock(RTCMsgQMutex, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    const auto& entries = RTCMsgQ.Entries;
    const size_t n = std::min(count, entries.size());
    copies->assign(entries.begin(), entries.begin() + n);
    *more = entries.size() > n;
    return true;
}

void OutgoingQueue::RemoveWrittenMsgs(const std::vector<WaitingMsgSt>& written) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    auto& entries = RTCMsgQ.Entries;
    for (const WaitingMsgSt& sent : written) {
        // The bound may have dropped it meanwhile.
        auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const WaitingMsgSt& e) { return !IsRedundant(e) && SamePackage(e, sent); });
        if (it != entries.end()) it->Flags |= kRedundantFlag;
    }
    for (WaitingMsgSt& e : entries) {
        if (!IsRedundant(e)) continue;
        RTCMsgQ.TagDataCount -= e.TagRecords;
        LeaveQueue(e);
    }
    entries.erase(std::remove_if(entries.begin(), entries.end(), IsRedundant), entries.end());
}

void OutgoingQueue::UpdateDataTime(long newSeconds) {
    const long delta = newSeconds - static_cast<long>(NowSeconds());
    const bool shift = delta < -kClockJumpToleranceSeconds || delta > kClockJumpToleranceSeconds;
    int shiftedRecords = 0;
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    for (WaitingMsgSt& entry : RTCMsgQ.Entries) {
        if (entry.Flags & kDataTimeUpdatedFlag) continue;
        try {
            if (shift && !ShiftVisitTimes(&entry, delta, &shiftedRecords))
                syslog(LOG_ERR, "UpdateDataTime: package %llu could not be corrected",
                       static_cast<unsigned long long>(entry.MsgIndex));
        } catch (const std::exception& e) {
            syslog(LOG_ERR, "UpdateDataTime: caught an exception (%s)", e.what());
        }
        entry.Flags |= kDataTimeUpdatedFlag;
        // Moved times need the file rewritten; the flag alone is set in place.
        if (!shift) WriteFlagsToJournal(entry, entry.Flags);
    }
    if (shift) CompactionWanted = true;
    if (shiftedRecords > 0)
        syslog(LOG_DEBUG, "UpdateDataTime: %d queued tag records moved by %ld s", shiftedRecords, delta);
}

uint64_t OutgoingQueue::HighestQueuedIndex() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    uint64_t highest = 0;
    for (const WaitingMsgSt& entry : RTCMsgQ.Entries) highest = std::max(highest, entry.MsgIndex);
    return highest;
}

std::vector<WaitingMsgSt> OutgoingQueue::Entries() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    return {RTCMsgQ.Entries.begin(), RTCMsgQ.Entries.end()};
}

int32_t OutgoingQueue::TagDataCount() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    return RTCMsgQ.TagDataCount;
}

void OutgoingQueue::AddAckWaiting(uint64_t index) {
    std::lock_guard<std::mutex> lock(AckWaitingMutex);
    if (AckWaitingMsgList.size() >= kMaxAckWaiting) {
        // One line as the overflow starts and one with its count when the
        // sender comes: an RTC flooding the reader must not flood the log.
        if (AckDropped++ == 0)
            syslog(LOG_ERR, "AddAckWaiting: %zu acknowledgements waiting, dropping the oldest", AckWaitingMsgList.size());
        AckWaitingMsgList.erase(AckWaitingMsgList.begin());
    }
    AckWaitingMsgList.push_back(index);
}

std::vector<uint64_t> OutgoingQueue::TakeAckWaiting() {
    std::lock_guard<std::mutex> lock(AckWaitingMutex);
    if (AckDropped > 0) {
        syslog(LOG_ERR, "TakeAckWaiting: %zu acknowledgements were dropped unsent", AckDropped);
        AckDropped = 0;
    }
    std::vector<uint64_t> taken;
    taken.swap(AckWaitingMsgList);
    return taken;
}
