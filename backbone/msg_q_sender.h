// The sender thread: drains the outgoing queue towards the paired RTC,
// answers RTC messages with acknowledgements, keeps the link alive, asks
// for pairing while connected, and makes the backup journal durable each
// second.
#pragma once

// Thread entry; arg is the BackBoneIface, whose queue it loads from the
// backup first and then drains it. Never returns once running.
void* MsgQSender(void* arg);
