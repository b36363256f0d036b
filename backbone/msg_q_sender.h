// The sender thread: drains the outgoing queue towards the paired RTC,
// answers RTC messages with acknowledgements, keeps the link alive, asks
// for pairing while connected, and saves the queue every ten minutes.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

class BackBoneIface;

// 0 while the sender runs; -1 when it was started without a link.
extern std::atomic<int32_t> SenderExitStatus;

// Set once the sender has read the backup at its start, so that no new
// package takes an index before the reloaded ones are known.
extern std::atomic<bool> BackupLoaded;

// Thread entry; arg is the BackBoneIface. Loads the backup first; never
// returns once running.
void* MsgQSender(void* arg);

// The sender's pause between bursts: up to the given seconds, over as soon
// as the backup falls due (more than ten minutes after lastBackup, or the
// clock went back), so that no keep-alive interval delays a save.
void PauseBetweenBursts(int seconds, time_t lastBackup);

// For the shutdown path (SIGTERM, SIGINT), called on an ordinary thread and
// never from a signal handler: queues the package being assembled and saves
// the queue now. True when saved. The caller should end the process with
// _exit afterwards: the other threads still use the queue, which static
// destructors would tear down under them.
bool SaveQueueForShutdown(BackBoneIface* link);
