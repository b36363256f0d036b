#include <gtest/gtest.h>

#include "backbone/envelope.h"
#include "backbone/messages.h"

namespace {

// The package an envelope carries, checked to be envelope 3 whole.
ZemloReaderDataPackage Unframe(const std::string& envelope) {
    uint32_t number = 0;
    uint32_t length = 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(envelope.data());
    const int header = GetFieldNumAndLen(bytes, &number, &length, static_cast<int32_t>(envelope.size()));
    EXPECT_EQ(number, READERDATAPACKAGE);
    EXPECT_EQ(header + length, envelope.size());
    ZemloReaderDataPackage package;
    EXPECT_TRUE(package.ParseFromArray(bytes + header, static_cast<int>(length)));
    return package;
}

// The key of field 13, channel_survey_results, length-delimited.
constexpr char kSurveyKey = (13 << 3) | 2;

TEST(DataPackage, AWrittenPackageIsStampedAndLeavesOutSurveyResultsWithoutReadings) {
    enum Survey { kEmpty, kOnlyExtraInfo, kWithReading };
    for (Survey kind : {kEmpty, kOnlyExtraInfo, kWithReading}) {
        const bool withReading = kind == kWithReading;
        ZemloReaderDataPackage package;
        package.mutable_message_header()->set_message_index(7);
        package.set_package_timestamp(1);
        auto* survey = package.mutable_channel_survey_results();
        if (kind == kOnlyExtraInfo) survey->set_extra_info("x");
        if (withReading) {
            auto* reading = survey->add_all_channels_rssi_results();
            reading->set_channel_index(2);
            reading->set_channel_frequency(915.0f);
        }
        std::string envelope;
        ASSERT_TRUE(BuildDataPackageEnvelope(&package, 5000, &envelope));
        const ZemloReaderDataPackage sent = Unframe(envelope);
        EXPECT_EQ(sent.has_channel_survey_results(), withReading);
        // No other byte of these packages has the key's value.
        EXPECT_EQ(envelope.find(kSurveyKey) != std::string::npos, withReading) << kind;
        EXPECT_EQ(sent.message_header().message_index(), 7u) << "the index of the hand-over is kept";
        EXPECT_EQ(sent.message_header().send_timestamp(), 5000u);
        EXPECT_EQ(sent.package_timestamp(), 5000u);
        EXPECT_TRUE(sent.has_extra_info());
    }
}

TEST(DataPackage, AKeepAliveCarriesMessageIndexZeroAndNoRecords) {
    std::string envelope;
    ASSERT_TRUE(AppendEnvelope(READERDATAPACKAGE, BuildKeepAlivePackage(5000), &envelope));
    const ZemloReaderDataPackage keepAlive = Unframe(envelope);
    EXPECT_TRUE(keepAlive.message_header().has_message_index());
    EXPECT_EQ(keepAlive.message_header().message_index(), 0u);
    EXPECT_EQ(keepAlive.package_timestamp(), 5000u);
    EXPECT_EQ(keepAlive.tags_data_size(), 0);
}

}  // namespace
