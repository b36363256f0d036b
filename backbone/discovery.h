// The RTC's discovery datagram: an envelope 1 holding
// RtcDiscoverZemloReadersBroadcast, of which only the TCP port is used (the
// address is the datagram's source).
#pragma once

#include <cstdint>

enum class DiscoveryParse {
    kPort,           // a usable port was found
    kNotDiscovery,   // no envelope header, or an envelope number other than 1
    kUnparsable,     // the message does not parse
    kNoPort,         // no TCP port, or 0, or one beyond 16 bits
};

// Everything after the header is taken as the message, whatever length the
// header gives.
DiscoveryParse ParseDiscoveryDatagram(const uint8_t* data, int length, uint16_t* port);
