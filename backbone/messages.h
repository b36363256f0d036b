// Builders of the messages the reader writes to the RTC, each returning the
// whole envelope ready for the socket. Pure: time and identity come in as
// arguments.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <string>

// Wire time: milliseconds since the epoch.
uint64_t MillisSinceEpoch(const timeval& time);
// The reverse, for a time the RTC sends; false when the system's time type
// cannot hold it.
bool TimevalFromMillis(uint64_t millis, timeval* time);

// --- link messages ---

// Envelope 2: ZemloReaderPairing carrying the reader's identifier.
bool BuildPairingEnvelope(uint64_t readerId, std::string* envelope);

// Envelope 13: ZemloMessageACK for one RTC message.
bool BuildMessageAckEnvelope(uint64_t ackIndex, uint64_t sendMillis, std::string* envelope);
