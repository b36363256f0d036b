// The backbone thread: owns the link to the RTC, drains the tag records into
// packages, keeps the link flags and listens for the RTC while unpaired.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

#include "backbone/link_state.h"
#include "backbone/rtc_allow_list.h"

// 1 while the last pass of the backbone saw the reader paired.
extern std::atomic<uint8_t> RTCConnected;

// What the backbone thread is started with: set before it starts, alive
// and unchanged for the whole process.
struct BackboneSettings {
    uint64_t readerMac = 1;    // the reader's identifier; 0 keeps the link's default
    RTCAllowList allowedRTCs;  // empty: every RTC is heard
};

// arg points to the BackboneSettings.
void* ZemloBackboneTh(void* arg);

class BackBoneIface;

// One pass's reports: those other threads have flagged go into the package;
// while paired it leaves at once, otherwise with the next hand-over. Each
// report is copied under its owner's lock and put into the package after
// it. The parameters wait for the board's versions and the pairing.
void ForwardReports(BackBoneIface* link);

// The link's and its queue's state for the status file, each read under
// its own lock; idle and empty before the backbone thread has made them.
struct BackboneStatus {
    eRTCCommState rtcState = RTC_IDLE;
    std::string rtcAddress;  // "address:port" of the current or last connection; empty before the first
    size_t packagesQueued = 0;
    long long recordsWaiting = 0;
    time_t lastBackupWrite = 0;  // 0: none yet
    uint64_t backupBytesWritten = 0;  // since the start: appends, flags set in place, rewrites
};
BackboneStatus ReadBackboneStatus();

// For a planned stop: takes the records still waiting into the package,
// queues it and makes the backup journal durable. Records taken after this
// call are not saved; the caller ends the process right after.
void SaveQueueForExit();
