// Records as the decoder makes them, from a built tag message.
#pragma once

#include <gtest/gtest.h>

#include "tags/tag_decode.h"
#include "tags/tag_message_builder.h"

inline TimedSubGMsg OnlyRecord(const TagMsgBuilder& b, long seconds = 1700000000, long micros = 0) {
    const std::vector<uint8_t> payload = b.Payload();
    static TagMessage msg;  // large: kept off the stack
    timeval arrival{seconds, micros};
    EXPECT_EQ(DecodeTagMessage(payload.data(), static_cast<int>(payload.size()), arrival, &msg),
              TagDecodeStatus::Parsed);
    EXPECT_EQ(msg.recordCount, 1);
    TimedSubGMsg r = msg.records[0];
    r.seconds = static_cast<uint32_t>(seconds);
    r.micros = static_cast<uint32_t>(micros);
    return r;
}
