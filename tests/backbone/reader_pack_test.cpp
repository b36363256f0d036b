// The package being assembled, through BackBoneIface without a socket: the
// size that triggers the hand-over, and the message indices the queue sees.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "backbone/backbone_iface.h"
#include "backbone/msg_queue.h"
#include "backbone/tag_records.h"
#include "support/scratch_dir.h"
#include "tags/tag_builder_records.h"

namespace {

constexpr int kLimit = 1024;

ZemloReaderDataPackage Queued(OutgoingQueue& queue, size_t i) {
    ZemloReaderDataPackage package;
    EXPECT_TRUE(package.ParseFromString(queue.Entries().at(i).Msg));
    return package;
}

// Activity records whose entries differ in size through their varints.
TimedSubGMsg ActivityRecord(uint32_t tagId, uint16_t steps, uint8_t lyingCount = 1) {
    TagMsgBuilder b;
    b.tagId = tagId;
    b.Activity(SubMsgType::Activity, 9, steps, 300, lyingCount, 55, 3);
    return OnlyRecord(b);
}

TimedSubGMsg SubRecord(uint8_t type, const std::vector<uint8_t>& body) {
    TagMsgBuilder b;
    b.Sub(type, body);
    return OnlyRecord(b);
}

// Mirrors the link's package from the same records with the conversions
// alone, to check the link's running size against a real serialisation.
struct Mirror {
    ZemloReaderDataPackage pack;
    void Add(const TimedSubGMsg& record) { FillTagEntry(record, 0, pack.add_tags_data()); }
    int Size() const { return static_cast<int>(pack.ByteSizeLong()); }
};

int EntryWireSize(const TimedSubGMsg& record) {
    Mirror m;
    m.Add(record);
    return m.Size();
}

TEST(ReaderPack, TheRunningSizeIsTheSerialisedSizeAndTheCrossingEntryTravels) {
    const std::vector<TimedSubGMsg> kinds = {
        ActivityRecord(5, 1),           ActivityRecord(0x0FFFFFFF, 60000, 200),
        SubRecord(SubMsgType::Diagnostics, DiagV1Body()), SubRecord(SubMsgType::Diagnostics, DiagV2Body()),
        SubRecord(SubMsgType::Parameters, ParamsBody())};
    OutgoingQueue queue;
    BackBoneIface link(queue);
    // A package that already holds a report counts it too.
    ZemloReaderDataPackage start;
    start.mutable_reader_diag_info()->set_rssi_noise(3);
    ASSERT_EQ(link.AddNewReaderPackData(start), 1);
    Mirror mirror;
    mirror.pack = start;
    for (size_t i = 0; queue.Entries().empty(); ++i) {
        ASSERT_LT(i, 200u);
        const TimedSubGMsg& record = kinds[i % kinds.size()];
        link.AddTagRecord(record);
        mirror.Add(record);
        if (mirror.Size() <= kLimit) {
            ASSERT_EQ(link.GetReaderPackSize(), mirror.Size()) << "entry " << i;
        }
    }
    EXPECT_GT(mirror.Size(), kLimit);
    EXPECT_EQ(link.GetReaderPackSize(), 0);
    ASSERT_EQ(queue.Entries().size(), 1u);
    ZemloReaderDataPackage handedOver = Queued(queue, 0);
    EXPECT_EQ(handedOver.tags_data_size(), mirror.pack.tags_data_size()) << "the crossing entry is in it";
    handedOver.clear_message_header();
    handedOver.clear_package_timestamp();
    EXPECT_EQ(handedOver.SerializeAsString(), mirror.pack.SerializeAsString());
}

TEST(ReaderPack, ExactlyTheLimitStaysAndOneEntryMoreIsHandedOver) {
    // Entry sizes on offer, by wire size.
    std::map<int, TimedSubGMsg> bySize;
    for (uint32_t tag : {5u, 300u, 70000u, 0x0FFFFFFFu})
        for (uint16_t steps : {1, 300, 60000})
            for (uint8_t lying : {1, 200}) {
                const TimedSubGMsg r = ActivityRecord(tag, steps, lying);
                bySize.emplace(EntryWireSize(r), r);
            }
    // n fillers of one size and a last entry that lands on the limit.
    const TimedSubGMsg* filler = nullptr;
    const TimedSubGMsg* last = nullptr;
    int fillers = 0;
    for (const auto& [size, record] : bySize) {
        const int n = kLimit / size - 1;
        const auto it = bySize.find(kLimit - n * size);
        if (it == bySize.end()) continue;
        filler = &record, last = &it->second, fillers = n;
        break;
    }
    ASSERT_NE(last, nullptr) << "no combination lands on the limit";

    OutgoingQueue queue;
    BackBoneIface link(queue);
    for (int i = 0; i < fillers; ++i) link.AddTagRecord(*filler);
    link.AddTagRecord(*last);
    EXPECT_EQ(link.GetReaderPackSize(), kLimit);
    EXPECT_TRUE(queue.Entries().empty()) << "exactly the limit is not handed over";
    EXPECT_EQ(link.AddTagRecord(ActivityRecord(77, 1)), 0);
    ASSERT_EQ(queue.Entries().size(), 1u);
    const ZemloReaderDataPackage handedOver = Queued(queue, 0);
    ASSERT_EQ(handedOver.tags_data_size(), fillers + 2);
    EXPECT_EQ(handedOver.tags_data(fillers + 1).tag_id(), 77u);
}

TEST(ReaderPack, IndicesRunFromOneAndContinueAboveAReloadedBackup) {
    ScratchDir dir("rpack", ScratchDir::Cwd::Enter);
    BackupLocation location;
    location.sdDevice = dir.Path() + "/no-card";
    {
        OutgoingQueue queue(location);
        BackBoneIface earlierRun(queue);
        for (int i = 0; i < 3; ++i) {
            earlierRun.AddTagRecord(ActivityRecord(i, 1));
            earlierRun.EmptyReaderPack();
        }
        ASSERT_TRUE(queue.SaveQtoFile());
    }
    OutgoingQueue queue(location);
    BackBoneIface link(queue);
    link.EmptyReaderPack();
    link.EmptyReaderPack();
    ASSERT_EQ(queue.Entries().size(), 2u);
    EXPECT_EQ(Queued(queue, 0).message_header().message_index(), 1u) << "the first package of a run";
    EXPECT_EQ(Queued(queue, 1).message_header().message_index(), 2u);

    OutgoingQueue reloaded(location);
    BackBoneIface restarted(reloaded);
    ASSERT_TRUE(reloaded.LoadQFromFile());
    restarted.ContinueMsgIndexAbove(reloaded.HighestQueuedIndex());
    restarted.ContinueMsgIndexAbove(1);  // never back
    restarted.AddTagRecord(ActivityRecord(9, 1));
    restarted.EmptyReaderPack();
    ASSERT_EQ(reloaded.Entries().size(), 4u) << "the new package is queued beside the reloaded ones";
    EXPECT_EQ(Queued(reloaded, 3).message_header().message_index(), 4u);
    EXPECT_EQ(Queued(reloaded, 3).tags_data(0).tag_id(), 9u);
}

}  // namespace
