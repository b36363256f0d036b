// The reader's periodic work at the link's silences: the tag watchdog, the
// MEMS duties, the diagnostics and channel-scan timers, the LED word, and
// the keep-alive questions with the upgrade check. Runs on the listener
// thread through the link's housekeeping hook.
#pragma once

// How the LED word learns whether the link to the RTC is up. The flag is
// the backbone's, which lies above this module, so app/ hands it down
// before the listener starts; until then the link shows as down.
void SetRtcLinkProbe(bool (*rtcLinkUp)());

// Starts every timer from now; the keep-alive round is due at once.
void StartHousekeeping();

// The duties of a connected board, in their fixed order.
void ConnectedHousekeeping();

// Every five seconds: the port lent to a waiting firmware upgrade, then the
// next keep-alive question (or the version question to a board not yet
// connected).
void KeepAliveRound();

// Makes the hourly MEMS state change due at once; a new MEMS parameter line
// calls it.
void ExpireMEMSStateTimer();
