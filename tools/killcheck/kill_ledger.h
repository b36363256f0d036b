// The kill test's account of delivery across kills. It is told, in order,
// what the board sent, when each daemon had loaded its backup, what the RTC
// received and acknowledged as persisted, and, at each kill, which records
// the backup still holds as queued; it answers what the kill cost. Pure:
// the logs are read elsewhere. Times are seconds on the monotonic clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

// One tag record: the board's sending time, or the reader's dating of it.
struct TagRecordSeen {
    uint32_t tag = 0;
    uint32_t msgId = 0;
    double at = 0;
};

struct KillVerdict {
    size_t counted = 0;               // records of this daemon's life old enough to be owed
    std::vector<TagRecordSeen> lost;  // owed, yet neither at the RTC nor queued
    size_t ackedAgain = 0;            // persisted before a kill, received again after it
};

class KillLedger {
public:
    // A kill may cost the records sent in its last seconds, and a package
    // persisted within its last second may come again: the journal makes
    // its appends and marks durable within a second.
    static constexpr double kLossGraceSeconds = 2;
    static constexpr double kAckGraceSeconds = 1;
    // How far a record's dating may lie from its sending and still be that
    // record: the board's stream repeats a tag and message number only
    // after 2560 messages (12.8 s at 200 a second).
    static constexpr double kMatchSeconds = 3;

    void BoardSent(const TagRecordSeen& record) { sentThisLife_.push_back(record); }
    void BackupLoaded(double at) { loadedAt_ = at; }
    void Delivered(const TagRecordSeen& record);
    // A data package is known by its message index and its time stamp:
    // a daemon that starts on an empty backup numbers from 1 again.
    void PackageReceived(uint64_t index, uint64_t stamp, double at);
    void PersistAcked(uint64_t index, double at);
    KillVerdict Killed(double at, const std::vector<TagRecordSeen>& queued);

private:
    using Key = std::pair<uint32_t, uint32_t>;  // tag, message number
    using Datings = std::map<Key, std::vector<double>>;
    static void Add(Datings* datings, const TagRecordSeen& record);
    static bool Holds(const Datings& datings, const TagRecordSeen& record);

    std::vector<TagRecordSeen> sentThisLife_;
    std::optional<double> loadedAt_;
    std::vector<TagRecordSeen> owed_;  // counted, not yet seen at the RTC
    Datings delivered_;
    std::vector<double> kills_;
    std::map<uint64_t, uint64_t> lastStampOf_;                    // index -> stamp last received
    std::map<std::pair<uint64_t, uint64_t>, double> persisted_;  // index, stamp -> first acknowledgement
    size_t ackedAgain_ = 0;
};
