// The sender thread: drains the outgoing queue towards the paired RTC,
// answers RTC messages with acknowledgements, keeps the link alive, asks
// for pairing while connected, and saves the queue every ten minutes.
#pragma once

#include <ctime>

// Thread entry; arg is the BackBoneIface, whose queue it loads from the
// backup first and then drains and saves. Never returns once running.
void* MsgQSender(void* arg);

// The sender's pause between bursts: up to the given seconds, over as soon
// as the backup falls due (more than ten minutes after lastBackup, or the
// clock went back), so that no keep-alive interval delays a save.
void PauseBetweenBursts(int seconds, time_t lastBackup);
