#include "backbone/messages.h"

#include "backbone/envelope.h"

uint64_t MillisSinceEpoch(const timeval& time) {
    return static_cast<uint64_t>(time.tv_sec) * 1000 + static_cast<uint64_t>(time.tv_usec) / 1000;
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
