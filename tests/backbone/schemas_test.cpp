// The wire format the RTC relies on: unpacked repeated scalars, defaults,
// presence and unknown fields kept.
#include <gtest/gtest.h>

#include "RFTagParametersInformation.pb.h"
#include "RtcPairingACK.pb.h"
#include "ZemloReaderParametersInformation.pb.h"

TEST(Schemas, RepeatedFloatsAreNotPacked) {
    ZemloReaderParametersInformation params;
    for (float f : {915.0f, 916.5f, 917.25f}) params.add_radio_frequency_table(f);
    const std::string bytes = params.SerializeAsString();
    ASSERT_EQ(bytes.size(), 3u * 5u) << "three entries of key 0x65 and four bytes";
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(static_cast<uint8_t>(bytes[i * 5]), (12 << 3) | 5);
}

TEST(Schemas, DefaultsAndPresence) {
    RFTagParametersInformation tag;
    ASSERT_TRUE(tag.ParseFromString(std::string()));
    EXPECT_EQ(tag.rf_region(), RFRegionEnum::USA);
    EXPECT_FALSE(tag.has_working_channel_index());
}

TEST(Schemas, UnknownFieldsSurviveARoundTrip) {
    RtcPairingACK ack;
    ack.set_keep_alive_interval_seconds(5);
    std::string bytes = ack.SerializeAsString();
    bytes += std::string("\x70\x2A", 2);  // field 14, varint 42: from a newer RTC
    RtcPairingACK parsed;
    ASSERT_TRUE(parsed.ParseFromString(bytes));
    EXPECT_EQ(parsed.keep_alive_interval_seconds(), 5u);
    EXPECT_EQ(parsed.SerializeAsString(), bytes);
}
