// Builders of the messages the reader writes to the RTC, each returning the
// whole envelope ready for the socket. Pure: time and identity come in as
// arguments.
#pragma once

#include <sys/time.h>

#include <cstdint>
#include <string>

#include "ZemloChannelSurveyProgressUpdate.pb.h"
#include "ZemloReaderDataPackage.pb.h"

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

// --- data packages, keep-alives and survey progress ---

// Stamps a queued package for its write at sendMillis (send and package
// time, an empty extra_info; survey results without a reading are left
// out) and frames it as envelope 3. The package keeps the stamps, for the
// trace.
bool BuildDataPackageEnvelope(ZemloReaderDataPackage* package, uint64_t sendMillis, std::string* envelope);

// The keep-alive: a package without records whose message_index 0 is
// present, a value no queued package carries.
ZemloReaderDataPackage BuildKeepAlivePackage(uint64_t sendMillis);

// Stamps a survey progress update with its message index and time and
// frames it as envelope 16.
bool BuildSurveyProgressEnvelope(ZemloChannelSurveyProgressUpdate* progress, uint64_t index, uint64_t sendMillis,
                                 std::string* envelope);
