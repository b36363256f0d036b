#include "backbone/msg_queue.h"

#include "platform/log.h"

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
            LogLine(LOG_DEBUG, "UpdateDataTime: Tag ID %u, Tag MsgID %u: updateing time stamp %llu --> %llu",
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
        LogLine(LOG_ERR, "MakeWaitingMsg: caught an exception (%s)", e.what());
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
        LogLine(LOG_ERR, "AddMsgToQ: package %llu could not be serialised",
               static_cast<unsigned long long>(package.message_header().message_index()));
        return;
    }
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    const auto& entries = RTCMsgQ.Entries;
    if (entry.MsgIndex <= RTCMsgQ.IndexBound &&
        std::any_of(entries.begin(), entries.end(), [&](const WaitingMsgSt& e) { return SamePackage(e, entry); }))
        return;
    AppendToJournal(entry);
    SupersedeGrowingCopy();  // the package it copied
    PushMsgToLimitedQ(&RTCMsgQ, std::move(entry), [this](WaitingMsgSt& dropped) {
        // Records lost for good: a technician must be able to see it.
        LogLine(LOG_ERR, "AddMsgToQ: the queue holds its bound of %d tag records; package %llu with %d dropped",
                kMaxQueuedTagRecords, static_cast<unsigned long long>(dropped.MsgIndex), dropped.TagRecords);
        LeaveQueue(dropped);
        --EntriesLeaving;  // the bound removes it itself
    });
}

void OutgoingQueue::LeaveQueue(WaitingMsgSt& entry) {
    entry.Flags |= kRedundantFlag;
    ++EntriesLeaving;
    MarkLeftInJournal(entry);
}

// Most leave from the front; a walk of the whole queue only for the others.
void OutgoingQueue::RemoveLeftEntries() {
    auto& entries = RTCMsgQ.Entries;
    while (EntriesLeaving > 0 && !entries.empty() && IsRedundant(entries.front())) {
        RTCMsgQ.TagDataCount -= entries.front().TagRecords;
        entries.pop_front();
        --EntriesLeaving;
    }
    if (EntriesLeaving == 0) return;
    for (const WaitingMsgSt& e : entries)
        if (IsRedundant(e)) RTCMsgQ.TagDataCount -= e.TagRecords;
    entries.erase(std::remove_if(entries.begin(), entries.end(), IsRedundant), entries.end());
    EntriesLeaving = 0;
}

// Packages are taken from the front, so the written ones lead the queue:
// the search ends at the first never written.
WaitingMsgSt* OutgoingQueue::FindWritten(const WaitingMsgSt& package) {
    for (WaitingMsgSt& e : RTCMsgQ.Entries) {
        if (e.WrittenOnConnection == 0) break;
        if (!IsRedundant(e) && SamePackage(e, package)) return &e;
    }
    return nullptr;
}

// Queue order is index order: hand-overs draw ever higher indexes and a
// reloaded backup's stand before them. So the packages to write again lead
// the queue, the new ones follow.
bool OutgoingQueue::TakeToWrite(uint64_t connection, size_t count, std::vector<WaitingMsgSt>* copies, bool* more) {
    std::unique_lock<std::mutex> lock(RTCMsgQMutex, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    std::vector<WaitingMsgSt*> again;
    std::vector<WaitingMsgSt*> fresh;
    for (WaitingMsgSt& e : RTCMsgQ.Entries) {
        if (fresh.size() > count) break;  // enough, and one to tell that more wait
        if (e.WrittenOnConnection == connection) continue;
        if (e.WrittenOnConnection == 0) {
            fresh.push_back(&e);
        } else if (e.ConnectionsWritten >= kMaxConnectionsWritten) {
            LogLine(LOG_ERR, "MsgQSender: package %llu written on %d connections without an acknowledgement, dropped",
                   static_cast<unsigned long long>(e.MsgIndex), e.ConnectionsWritten);
            LeaveQueue(e);
        } else {
            again.push_back(&e);
        }
    }
    again.insert(again.end(), fresh.begin(), fresh.end());
    const size_t n = std::min(count, again.size());
    copies->clear();
    for (size_t i = 0; i < n; ++i) {
        again[i]->WrittenOnConnection = connection;
        ++again[i]->ConnectionsWritten;
        copies->push_back(*again[i]);
    }
    *more = again.size() > n;
    RemoveLeftEntries();
    return true;
}

void OutgoingQueue::WrittenWhole(const WaitingMsgSt& package) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    if (ConfirmedDelivery) return;
    if (WaitingMsgSt* entry = FindWritten(package)) LeaveQueue(*entry);
    RemoveLeftEntries();
}

void OutgoingQueue::NotWritten(const std::vector<WaitingMsgSt>& packages) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    // Last first: the written ones stay ahead of the never written.
    for (auto it = packages.rbegin(); it != packages.rend(); ++it) {
        WaitingMsgSt* entry = FindWritten(*it);
        // Only a connection that took it whole counts.
        if (entry != nullptr && --entry->ConnectionsWritten == 0) entry->WrittenOnConnection = 0;
    }
}

void OutgoingQueue::Discard(const WaitingMsgSt& package) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    if (WaitingMsgSt* entry = FindWritten(package)) LeaveQueue(*entry);
    RemoveLeftEntries();
}

void OutgoingQueue::Persisted(const std::vector<uint64_t>& indexes) {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    for (uint64_t index : indexes) {
        if (index == 0) continue;  // a keep-alive's
        if (!ConfirmedDelivery)
            LogLine(LOG_INFO, "Persisted: the RTC acknowledges what it persists; written packages now wait for it");
        ConfirmedDelivery = true;
        // Only the index names it: a written package is never a reloaded one
        // sharing it, as new indexes continue above the backup's.
        for (WaitingMsgSt& e : RTCMsgQ.Entries) {
            if (e.WrittenOnConnection == 0) break;
            if (e.MsgIndex == index && !IsRedundant(e)) {
                LeaveQueue(e);
                break;
            }
        }
    }
    RemoveLeftEntries();
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
                LogLine(LOG_ERR, "UpdateDataTime: package %llu could not be corrected",
                       static_cast<unsigned long long>(entry.MsgIndex));
        } catch (const std::exception& e) {
            LogLine(LOG_ERR, "UpdateDataTime: caught an exception (%s)", e.what());
        }
        entry.Flags |= kDataTimeUpdatedFlag;
        // Moved times need the file rewritten; the flag alone is set in place.
        if (!shift) WriteFlagsToJournal(entry.JournalOffset, entry.Flags);
    }
    if (shift) CompactionWanted = true;
    if (shiftedRecords > 0)
        LogLine(LOG_DEBUG, "UpdateDataTime: %d queued tag records moved by %ld s", shiftedRecords, delta);
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

OutgoingQueue::Counts OutgoingQueue::QueuedCounts() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    return {RTCMsgQ.Entries.size(), RTCMsgQ.TagDataCount, BackupBytesWritten};
}

void OutgoingQueue::AddAckWaiting(uint64_t index) {
    std::lock_guard<std::mutex> lock(AckWaitingMutex);
    if (AckWaitingMsgList.size() >= kMaxAckWaiting) {
        // One line as the overflow starts and one with its count when the
        // sender comes: an RTC flooding the reader must not flood the log.
        if (AckDropped++ == 0)
            LogLine(LOG_ERR, "AddAckWaiting: %zu acknowledgements waiting, dropping the oldest", AckWaitingMsgList.size());
        AckWaitingMsgList.erase(AckWaitingMsgList.begin());
    }
    AckWaitingMsgList.push_back(index);
}

std::vector<uint64_t> OutgoingQueue::TakeAckWaiting() {
    std::lock_guard<std::mutex> lock(AckWaitingMutex);
    if (AckDropped > 0) {
        LogLine(LOG_ERR, "TakeAckWaiting: %zu acknowledgements were dropped unsent", AckDropped);
        AckDropped = 0;
    }
    std::vector<uint64_t> taken;
    taken.swap(AckWaitingMsgList);
    return taken;
}
