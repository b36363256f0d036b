// The generator's messages as the daemon's decoder reads them: what one
// side means by a kind, the other must take the same way.
#include <gtest/gtest.h>

#include <vector>

#include "subg/frame.h"
#include "tags/tag_decode.h"
#include "tools/subgsim/sim_tag_traffic.h"

namespace {

struct Decoded {
    int frameLength = 0;
    TagDecodeStatus status = TagDecodeStatus::HeaderShort;
    int records = 0;
    int logged = 0;
};

Decoded Decode(const TagTraffic& traffic) {
    Decoded d;
    T7734FrameReply frame{};
    d.frameLength = ReplyFromWire(traffic.wire.data(), traffic.wire.size(), &frame);
    if (d.frameLength <= 0) return d;
    static TagMessage message;
    d.status = DecodeTagMessage(frame.data, frame.length - kFrameOverhead, timeval{1000000, 0}, &message);
    d.records = message.recordCount;
    d.logged = message.loggedCount;
    return d;
}

TEST(SimTagInterop, EveryKindDecodesWithTheRecordsCounted) {
    const SubMsgKind kinds[] = {SubMsgKind::Activity, SubMsgKind::Unforwarded, SubMsgKind::StandUp,
                                SubMsgKind::Diag1,    SubMsgKind::Diag2,       SubMsgKind::Params,
                                SubMsgKind::Per,      SubMsgKind::Mems,        SubMsgKind::Raw,
                                SubMsgKind::Type10,   SubMsgKind::Unknown};
    for (SubMsgKind kind : kinds) {
        // An activity report behind each kind shows that its body was taken whole.
        TagTraffic t = KindsTagMessage(42, 3, 1, {kind, SubMsgKind::Activity});
        Decoded d = Decode(t);
        ASSERT_EQ(d.frameLength, static_cast<int>(t.wire.size()));
        EXPECT_EQ(d.status, TagDecodeStatus::Parsed) << static_cast<int>(kind);
        EXPECT_EQ(d.records, t.records) << static_cast<int>(kind);
    }
}

TEST(SimTagInterop, MalformedMessagesFailWhereTheyShould) {
    Decoded format1 = Decode(MalformedTagMessage(MalformedKind::Format1, 42, 1));
    EXPECT_EQ(format1.status, TagDecodeStatus::FormatError);
    EXPECT_EQ(Decode(MalformedTagMessage(MalformedKind::Diag3, 42, 1)).status, TagDecodeStatus::FormatError);
    EXPECT_EQ(Decode(MalformedTagMessage(MalformedKind::Cut, 42, 1)).status, TagDecodeStatus::FormatError);
    Decoded shortOne = Decode(MalformedTagMessage(MalformedKind::Short, 42, 1));
    EXPECT_EQ(shortOne.status, TagDecodeStatus::Parsed);
    EXPECT_EQ(shortOne.records, MalformedTagMessage(MalformedKind::Short, 42, 1).records);
    EXPECT_EQ(Decode(MalformedTagMessage(MalformedKind::Checksum, 42, 1)).frameLength, -1);
    EXPECT_EQ(Decode(MalformedTagMessage(MalformedKind::Length4, 42, 1)).frameLength, -1);
}

TEST(SimTagInterop, StreamMessagesDecode) {
    for (uint64_t i = 0; i < 40; ++i) {
        Decoded d = Decode(StreamTagMessage(500, i));
        EXPECT_EQ(d.status, TagDecodeStatus::Parsed);
        EXPECT_EQ(d.records, 1);
    }
}

}  // namespace
