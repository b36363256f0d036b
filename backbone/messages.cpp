#include "backbone/messages.h"

#include <limits>

#include "ZemloMessageACK.pb.h"
#include "ZemloReaderPairing.pb.h"
#include "backbone/envelope.h"

uint64_t MillisSinceEpoch(const timeval& time) {
    return static_cast<uint64_t>(time.tv_sec) * 1000 + static_cast<uint64_t>(time.tv_usec) / 1000;
}

bool TimevalFromMillis(uint64_t millis, timeval* time) {
    const uint64_t seconds = millis / 1000;
    // time_t is 32 bits on the reader: a later time would wrap into the past.
    if (seconds > static_cast<uint64_t>(std::numeric_limits<time_t>::max())) return false;
    time->tv_sec = static_cast<time_t>(seconds);
    time->tv_usec = static_cast<suseconds_t>((millis % 1000) * 1000);
    return true;
}

// --- link messages ---

bool BuildPairingEnvelope(uint64_t readerId, std::string* envelope) {
    ZemloReaderPairing pairing;
    pairing.set_reader_mac_address(readerId);
    return AppendEnvelope(READERPAIRING, pairing, envelope);
}

bool BuildMessageAckEnvelope(uint64_t ackIndex, uint64_t sendMillis, std::string* envelope) {
    ZemloMessageACK ack;
    ack.set_ack_message_index(ackIndex);
    ack.set_send_timestamp(sendMillis);
    return AppendEnvelope(READERMSGACK, ack, envelope);
}

// --- data packages, keep-alives and survey progress ---

bool BuildDataPackageEnvelope(ZemloReaderDataPackage* package, uint64_t sendMillis, std::string* envelope) {
    if (package->channel_survey_results().all_channels_rssi_results_size() == 0) package->clear_channel_survey_results();
    package->mutable_message_header()->set_send_timestamp(sendMillis);
    package->set_package_timestamp(sendMillis);
    package->set_extra_info("");
    return AppendEnvelope(READERDATAPACKAGE, *package, envelope);
}

ZemloReaderDataPackage BuildKeepAlivePackage(uint64_t sendMillis) {
    ZemloReaderDataPackage keepAlive;
    keepAlive.mutable_message_header()->set_message_index(0);
    keepAlive.mutable_message_header()->set_send_timestamp(sendMillis);
    keepAlive.set_package_timestamp(sendMillis);
    keepAlive.set_extra_info("");
    return keepAlive;
}

bool BuildSurveyProgressEnvelope(ZemloChannelSurveyProgressUpdate* progress, uint64_t index, uint64_t sendMillis,
                                 std::string* envelope) {
    progress->set_extra_info("");
    progress->mutable_message_header()->set_message_index(index);
    progress->mutable_message_header()->set_send_timestamp(sendMillis);
    return AppendEnvelope(SURVEYPROGRESS, *progress, envelope);
}
