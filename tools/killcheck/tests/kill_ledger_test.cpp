#include "tools/killcheck/kill_ledger.h"

#include <gtest/gtest.h>

namespace {

// A daemon that loaded its backup at 10 s and was killed at 20 s; the
// board sent tag 7's message 3 at `sent`.
struct LossCase {
    const char* what;
    double sent;
    bool loaded;
    std::vector<TagRecordSeen> delivered, queued;
    size_t counted, lost;
};

TEST(KillLedger, CountsAsLostWhatWasSentWhileTheJournalRanAndIsNowhere) {
    const LossCase cases[] = {
        {"neither delivered nor queued", 15, true, {}, {}, 1, 1},
        {"queued in the backup", 15, true, {}, {{7, 3, 15.004}}, 1, 0},
        {"delivered", 15, true, {{7, 3, 15.004}}, {}, 1, 0},
        {"queued, but that dating is the previous round's", 15, true, {}, {{7, 3, 2.2}}, 1, 1},
        {"another tag's record queued", 15, true, {}, {{8, 3, 15.004}}, 1, 1},
        {"sent within the grace before the kill", 18.5, true, {}, {}, 0, 0},
        {"sent before the backup was loaded", 9, true, {}, {}, 0, 0},
        {"sent in a life that never loaded its backup", 15, false, {}, {}, 0, 0},
    };
    for (const LossCase& c : cases) {
        KillLedger ledger;
        if (c.loaded) ledger.BackupLoaded(10);
        ledger.BoardSent({7, 3, c.sent});
        for (const TagRecordSeen& r : c.delivered) ledger.Delivered(r);
        const KillVerdict verdict = ledger.Killed(20, c.queued);
        EXPECT_EQ(verdict.counted, c.counted) << c.what;
        EXPECT_EQ(verdict.lost.size(), c.lost) << c.what;
    }
}

// Queued at one kill, the record is still owed at the next.
TEST(KillLedger, ARecordQueuedAtOneKillMustBeDeliveredOrQueuedAtTheNext) {
    KillLedger ledger;
    ledger.BackupLoaded(10);
    ledger.BoardSent({7, 3, 15});
    EXPECT_TRUE(ledger.Killed(20, {{7, 3, 15.004}}).lost.empty());
    EXPECT_EQ(ledger.Killed(30, {}).lost.size(), 1u);
    EXPECT_TRUE(ledger.Killed(40, {}).lost.empty()) << "a loss is told once";
}

// Package 5 (stamped 1000) received at 10 s and acknowledged at `acked`;
// the daemon killed at 20 s; then index 5 arrives again.
struct AckCase {
    const char* what;
    double acked;
    uint64_t againStamp;
    double againAt;
    size_t ackedAgain;
};

TEST(KillLedger, CountsPackagesPersistedBeforeAKillAndReceivedAfterIt) {
    const AckCase cases[] = {
        {"persisted well before the kill", 18.5, 1000, 25, 1},
        {"persisted in the kill's last second", 19.5, 1000, 25, 0},
        {"received again before the kill", 10.5, 1000, 19.8, 0},
        {"another package under the same index", 10.5, 2000, 25, 0},
    };
    for (const AckCase& c : cases) {
        KillLedger ledger;
        ledger.PackageReceived(5, 1000, 10);
        ledger.PersistAcked(5, c.acked);
        ledger.Killed(20, {});
        ledger.PackageReceived(5, c.againStamp, c.againAt);
        EXPECT_EQ(ledger.Killed(30, {}).ackedAgain, c.ackedAgain) << c.what;
    }
}

}  // namespace
