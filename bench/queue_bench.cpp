// The outgoing queue at its bound of 999,999 tag records: the process's
// memory once it is full, and the save and load of its backup.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "backbone/msg_queue.h"

namespace {

// Serialised size past which a package is handed over.
constexpr size_t kPackageBytes = 1024;

// VmRSS of this process in MB, -1 when unknown.
double ResidentMB() {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    double mb = -1;
    while (std::fgets(line, sizeof(line), status)) {
        long kb = 0;
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) mb = kb / 1024.0;
    }
    std::fclose(status);
    return mb;
}

// Activity records as the backbone makes them, packed into packages of
// about 1 kB, until the queue holds its bound.
void FillQueueToTheBound(OutgoingQueue* queue) {
    uint64_t index = 1;
    uint32_t tag = 0x01020304;
    const uint64_t visit = 1700000000000ull;
    for (int32_t queued = queue->TagDataCount(); queued < kMaxQueuedTagRecords; queued = queue->TagDataCount()) {
        ZemloReaderDataPackage package;
        while (package.ByteSizeLong() <= kPackageBytes && queued + package.tags_data_size() < kMaxQueuedTagRecords) {
            RFTagDataPackage* record = package.add_tags_data();
            record->set_tag_id(tag++);
            record->set_tag_msg_id(tag & 0xFF);
            record->set_visit_timestamp(visit + tag);
            record->set_extra_info("");
            RFTagActivityData* activity = record->mutable_activity_data();
            activity->set_pedo_steps(1200 + tag % 100);
            activity->set_standing_time(600);
            activity->set_laying_count(3);
            activity->set_laying_time(30);
            activity->set_position(RFTagActivityData::STANDING);
        }
        package.mutable_message_header()->set_message_index(index++);
        package.set_package_timestamp(visit + index);
        queue->AddMsgToQ(package);
    }
}

class FullQueue : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State&) override {
        if (!dir_.empty()) return;
        char pattern[] = "/tmp/qbenchXXXXXX";
        dir_ = mkdtemp(pattern) ? pattern : "/tmp";
        location_.sdDevice = dir_ + "/no-card";
        location_.localBackupFile = dir_ + "/DataBackup.bin";
        queue_ = std::make_unique<OutgoingQueue>(location_);
        const double before = ResidentMB();
        FillQueueToTheBound(queue_.get());
        std::fprintf(stderr, "queue: %zu packages, %d tag records; RSS %.1f MB before filling, %.1f MB full\n",
                     queue_->Entries().size(), queue_->TagDataCount(), before, ResidentMB());
    }
    static std::string dir_;
    static BackupLocation location_;
    static std::unique_ptr<OutgoingQueue> queue_;
};
std::string FullQueue::dir_;
BackupLocation FullQueue::location_;
std::unique_ptr<OutgoingQueue> FullQueue::queue_;

BENCHMARK_DEFINE_F(FullQueue, Save)(benchmark::State& state) {
    for (auto _ : state) {
        if (!queue_->SaveQtoFile()) state.SkipWithError("save failed");
    }
    state.counters["rss_mb"] = ResidentMB();
    state.counters["file_mb"] = std::filesystem::file_size(dir_ + "/DataBackup.bin") / 1048576.0;
}
BENCHMARK_REGISTER_F(FullQueue, Save)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_DEFINE_F(FullQueue, Load)(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        if (!queue_->SaveQtoFile()) state.SkipWithError("save failed");
        queue_ = std::make_unique<OutgoingQueue>(location_);
        state.ResumeTiming();
        if (!queue_->LoadQFromFile()) state.SkipWithError("load failed");
    }
    state.counters["tag_records"] = queue_->TagDataCount();
    state.counters["rss_mb"] = ResidentMB();
    std::filesystem::remove_all(dir_);
}
BENCHMARK_REGISTER_F(FullQueue, Load)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
