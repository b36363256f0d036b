// The outgoing queue: every reader data package handed over waits here,
// oldest first, until it has been written whole to the paired RTC. The
// queue is bounded by the tag records it holds; at the bound the oldest
// packages make room. Packages are held serialised, so that a full queue
// costs its bytes and little more.
//
// Lock order: ReaderPackMutex (the package being assembled), then
// RTCMsgQMutex, then nothing else. No socket is written and no sleep is
// taken under RTCMsgQMutex.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "ZemloReaderDataPackage.pb.h"

constexpr int32_t kMaxQueuedTagRecords = 999999;

// Bits of an entry's flag byte, as the backup file stores it.
constexpr uint8_t kRedundantFlag = 0x01;        // written to the RTC; to be removed
constexpr uint8_t kDataTimeUpdatedFlag = 0x02;  // went through a clock correction

struct WaitingMsgSt {
    std::string Msg;          // the ZemloReaderDataPackage, serialised
    // Index and hand-over time together name a package: indexes start at 1
    // again in every run, so a package reloaded from the backup may share
    // its index with a new one.
    uint64_t MsgIndex = 0;     // its message_header.message_index, 0 when absent
    uint64_t PackageTime = 0;  // its package_timestamp, 0 when absent
    int32_t TagRecords = 0;   // its tags_data entries
    uint8_t Flags = 0;
    // The package may still carry the reader reports that a backup strips:
    // survey results, diagnostics, parameters, BIT results, extra_info.
    bool CarriesReports = false;
};

struct WaitingMsgQ {
    std::deque<WaitingMsgSt> Entries;
    int32_t TagDataCount = 0;  // tag records in all entries
    // No entry has a higher index. Hand-overs draw ever higher indices, so
    // a new package is told apart from a full queue without walking it.
    uint64_t IndexBound = 0;
};

// The queue; RTCMsgQMutex guards it and every entry.
extern WaitingMsgQ RTCMsgQ;
extern std::mutex RTCMsgQMutex;

// An entry for package with the given flag byte. False when the message
// library fails on it.
bool MakeWaitingMsg(const ZemloReaderDataPackage& package, uint8_t flags, WaitingMsgSt* entry);

inline bool SamePackage(const WaitingMsgSt& a, const WaitingMsgSt& b) {
    return a.MsgIndex == b.MsgIndex && a.PackageTime == b.PackageTime;
}

// Queues a copy of package unless the same package is queued already.
void AddMsgToQ(const ZemloReaderDataPackage& package);

// Appends entry, first dropping the oldest entries until its tag records
// fit the bound. The caller holds the lock that guards queue.
void PushMsgToLimitedQ(WaitingMsgQ* queue, WaitingMsgSt entry);

inline bool IsRedundant(const WaitingMsgSt& entry) { return (entry.Flags & kRedundantFlag) != 0; }

// Marks the queued entries that are the packages in written and removes
// every redundant entry. Takes RTCMsgQMutex.
void RemoveWrittenMsgs(const std::vector<WaitingMsgSt>& written);

// Copies of up to count entries from the front, without waiting for the
// lock: false when it is busy. *more tells whether entries remain behind.
bool CopyFrontMsgs(size_t count, std::vector<WaitingMsgSt>* copies, bool* more);

// Clears the reader reports from an entry still carrying them, so that only
// tags_data, package_timestamp and message_header remain. The caller holds
// the queue's lock. False when the message library fails on it.
bool StripReports(WaitingMsgSt* entry);

// The highest message index queued, 0 for an empty queue.
uint64_t HighestQueuedIndex();

// Called just before the clock is set to newSeconds: the tag records of
// every entry not yet corrected move by the clock's jump when it exceeds
// 10 seconds either way; every entry is marked corrected in any case.
void UpdateDataTime(long newSeconds);

// Message indexes of RTC messages waiting for the reader's ZemloMessageACK,
// under a lock of their own: the listener adds, the sender takes them all.
void AddAckWaiting(uint64_t index);
std::vector<uint64_t> TakeAckWaiting();
