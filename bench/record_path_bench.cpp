// The work of one tag record on the backbone thread: conversion into an
// entry, its addition to the package, the size check and, every few dozen
// records, the hand-over of the package to the outgoing queue. Once with a
// short queue and once with the queue at its bound, where every hand-over
// also drops the oldest package.
#include <benchmark/benchmark.h>
#include <sys/time.h>

#include <mutex>
#include <vector>

#include "backbone/backbone_iface.h"
#include "backbone/msg_queue.h"
#include "tags/sub_msg_list.h"
#include "tags/tag_decode.h"

namespace {

constexpr size_t kShortQueuePackages = 64;

// Decoded activity records of many tags, as the parser leaves them.
std::vector<TimedSubGMsg> TypicalRecords() {
    std::vector<TimedSubGMsg> records;
    timeval now;
    gettimeofday(&now, nullptr);
    for (uint32_t i = 0; i < 256; ++i) {
        TimedSubGMsg r{};
        r.header[0] = 18;  // packet length: not empty
        const uint32_t tag = 0x00A00000 + i * 977;
        for (int b = 0; b < 4; ++b) r.header[1 + b] = static_cast<uint8_t>(tag >> (8 * b));
        r.header[5] = static_cast<uint8_t>(i);
        r.header[6] = 1;
        const uint8_t sub[] = {11, SubMsgType::Activity, 0, 0, 0, static_cast<uint8_t>(i), 0x04, 0x58, 0x02, 3, 40};
        std::copy(sub, sub + sizeof(sub), r.area);
        r.seconds = static_cast<uint32_t>(now.tv_sec);
        r.micros = static_cast<uint32_t>(now.tv_usec);
        r.activityFlags = 1 + i % 4;
        r.subMsgType = SubMsgType::Activity;
        records.push_back(r);
    }
    return records;
}

void EmptyQueue() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    RTCMsgQ = WaitingMsgQ();
}

// Up to the bound and a little past it: the count stays just below the
// bound from then on, as each new package makes room for itself.
void FillQueue(BackBoneIface* link, const std::vector<TimedSubGMsg>& records) {
    for (int i = 0; i < kMaxQueuedTagRecords + 100; ++i) link->AddTagRecord(records[i % records.size()]);
}

void BM_RecordToPackage(benchmark::State& state) {
    const bool atBound = state.range(0) != 0;
    const std::vector<TimedSubGMsg> records = TypicalRecords();
    static BackBoneIface link;  // filled once: the benchmark runs this function several times
    if (!atBound) EmptyQueue();
    if (atBound && RTCMsgQ.TagDataCount < kMaxQueuedTagRecords / 2) FillQueue(&link, records);
    size_t i = 0;
    for (auto _ : state) {
        link.AddTagRecord(records[i++ % records.size()]);
        if (!atBound && RTCMsgQ.Entries.size() > kShortQueuePackages) EmptyQueue();
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["queued_records"] = RTCMsgQ.TagDataCount;
}
BENCHMARK(BM_RecordToPackage)->ArgName("at_bound")->Arg(0)->Arg(1);

// The same with the record taken from SubMsgList first, as the backbone's
// drain does.
void BM_DrainOneRecord(benchmark::State& state) {
    const std::vector<TimedSubGMsg> records = TypicalRecords();
    BackBoneIface link;
    size_t i = 0;
    TimedSubGMsg record;
    for (auto _ : state) {
        AddTagData(records[i++ % records.size()]);
        if (TakeTagData(&record)) link.AddTagRecord(record);
        if (RTCMsgQ.Entries.size() > kShortQueuePackages) EmptyQueue();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrainOneRecord);

}  // namespace

BENCHMARK_MAIN();
