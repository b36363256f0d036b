#include "tools/killcheck/kill_ledger.h"

#include <algorithm>
#include <cmath>

void KillLedger::Add(Datings* datings, const TagRecordSeen& record) {
    (*datings)[{record.tag, record.msgId}].push_back(record.at);
}

bool KillLedger::Holds(const Datings& datings, const TagRecordSeen& record) {
    auto it = datings.find({record.tag, record.msgId});
    if (it == datings.end()) return false;
    return std::any_of(it->second.begin(), it->second.end(),
                       [&](double at) { return std::fabs(at - record.at) < kMatchSeconds; });
}

void KillLedger::Delivered(const TagRecordSeen& record) { Add(&delivered_, record); }

void KillLedger::PackageReceived(uint64_t index, uint64_t stamp, double at) {
    lastStampOf_[index] = stamp;
    auto persisted = persisted_.find({index, stamp});
    if (persisted == persisted_.end()) return;
    auto killAfter = std::upper_bound(kills_.begin(), kills_.end(), persisted->second + kAckGraceSeconds);
    if (killAfter != kills_.end() && *killAfter < at) ++ackedAgain_;
}

void KillLedger::PersistAcked(uint64_t index, double at) {
    auto received = lastStampOf_.find(index);
    if (received != lastStampOf_.end()) persisted_.emplace(std::make_pair(index, received->second), at);
}

// Owed: what the board sent after the backup was loaded and before the
// grace; the reader had no chance at what it sent while no daemon ran. An
// owed record stays owed, kill after kill, until the RTC has it.
KillVerdict KillLedger::Killed(double at, const std::vector<TagRecordSeen>& queued) {
    KillVerdict verdict;
    kills_.push_back(at);
    if (loadedAt_) {
        for (const TagRecordSeen& record : sentThisLife_) {
            if (record.at <= *loadedAt_ || record.at > at - kLossGraceSeconds) continue;
            owed_.push_back(record);
            ++verdict.counted;
        }
    }
    sentThisLife_.clear();
    loadedAt_.reset();

    Datings inBackup;
    for (const TagRecordSeen& record : queued) Add(&inBackup, record);
    std::vector<TagRecordSeen> stillOwed;
    for (const TagRecordSeen& record : owed_) {
        if (Holds(delivered_, record)) continue;
        if (Holds(inBackup, record))
            stillOwed.push_back(record);
        else
            verdict.lost.push_back(record);
    }
    owed_ = std::move(stillOwed);
    verdict.ackedAgain = std::exchange(ackedAgain_, 0);
    return verdict;
}
