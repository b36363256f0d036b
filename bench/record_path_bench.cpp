// The work of one tag record on the backbone thread: conversion into an
// entry, its addition to the package, the size check and, every few dozen
// records, the hand-over of the package to the outgoing queue. Once with a
// short queue and once with the queue at its bound, where every hand-over
// also drops the oldest package.
#include <benchmark/benchmark.h>
#include <sys/time.h>

#include <cstdint>
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
        r.tagId = 0x00A00000 + i * 977;
        r.msgId = static_cast<uint8_t>(i);
        r.subMsgType = SubMsgType::Activity;
        r.rssi = -86;
        r.report = STANDARD_REPORT_STD{static_cast<uint16_t>(0x0400 + i), 600, 3, 40};
        r.seconds = static_cast<uint32_t>(now.tv_sec);
        r.micros = static_cast<uint32_t>(now.tv_usec);
        r.activityFlags = static_cast<uint8_t>(1 + i % 4);
        records.push_back(r);
    }
    return records;
}

// Empties the queue the way the sender does once the RTC took everything.
void EmptyQueue(OutgoingQueue& queue) {
    std::vector<WaitingMsgSt> all;
    bool more = false;
    if (!queue.TakeToWrite(1, SIZE_MAX, &all, &more)) return;
    for (const WaitingMsgSt& entry : all) queue.WrittenWhole(entry);
}

// A short queue: emptied after this many hand-overs (AddTagRecord's 0).
void KeepShort(int packageSize, size_t* handedOver, OutgoingQueue& queue) {
    if (packageSize == 0 && ++*handedOver > kShortQueuePackages) {
        EmptyQueue(queue);
        *handedOver = 0;
    }
}

// Up to the bound and a little past it: the count stays just below the
// bound from then on, as each new package makes room for itself.
void FillQueue(BackBoneIface* link, const std::vector<TimedSubGMsg>& records) {
    for (int i = 0; i < kMaxQueuedTagRecords + 100; ++i) link->AddTagRecord(records[i % records.size()]);
}

void BM_RecordToPackage(benchmark::State& state) {
    const bool atBound = state.range(0) != 0;
    const std::vector<TimedSubGMsg> records = TypicalRecords();
    // Filled once: the benchmark runs this function several times.
    static OutgoingQueue queue;
    static BackBoneIface link(queue);
    if (!atBound) EmptyQueue(queue);
    if (atBound && queue.TagDataCount() < kMaxQueuedTagRecords / 2) FillQueue(&link, records);
    size_t i = 0;
    size_t handedOver = 0;
    for (auto _ : state) {
        const int packageSize = link.AddTagRecord(records[i++ % records.size()]);
        if (!atBound) KeepShort(packageSize, &handedOver, queue);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["queued_records"] = queue.TagDataCount();
}
BENCHMARK(BM_RecordToPackage)->ArgName("at_bound")->Arg(0)->Arg(1);

// The same with the record taken from SubMsgList first, as the backbone's
// drain does.
void BM_DrainOneRecord(benchmark::State& state) {
    const std::vector<TimedSubGMsg> records = TypicalRecords();
    OutgoingQueue queue;
    BackBoneIface link(queue);
    size_t i = 0;
    size_t handedOver = 0;
    TimedSubGMsg record;
    for (auto _ : state) {
        AddTagData(records[i++ % records.size()]);
        if (TakeTagData(&record)) KeepShort(link.AddTagRecord(record), &handedOver, queue);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DrainOneRecord);

}  // namespace

BENCHMARK_MAIN();
