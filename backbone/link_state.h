// The state of the link to the RTC.
#pragma once

enum eRTCCommState {
    RTC_IDLE = 0,        // no RTC endpoint known; the backbone listens for broadcasts
    RTC_DISCOVERED = 1,  // endpoints wait in RTCList; the listener may connect
    RTC_CONNECTING = 2,  // a TCP connection attempt is under way
    RTC_CONNECTED = 3,   // TCP up, pairing message may be sent, not acknowledged yet
    RTC_PAIRED = 4,      // the RTC acknowledged the pairing; data flows
};
