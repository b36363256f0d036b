// Every tag record the board reports reaches the RTC once, through outages
// of the RTC and restarts of the reader: the board simulator's record of
// what it sent, the reader's activity log and the RTC simulator's JSON
// lines, compared record by record.
#include <gtest/gtest.h>
#include <google/protobuf/util/message_differencer.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <numeric>
#include <set>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "rtc_record.h"

namespace {

constexpr int kBound = 90;
constexpr int kRowsPerPhase = 40;  // at 10 tag messages a second

SandboxOptions DeliveryOptions(const SandboxRun& run, bool withTags = true) {
    SandboxOptions options;
    options.seconds = 240;
    if (withTags) options.simArgs = run.ControlArgs();
    options.rtcArgs = {"--json", "--keep-alive", "5"};
    return options;
}

size_t LoggedRows(const SandboxRun& run) { return ActivityLogRecords(ActivityLogPath(run)).size(); }

// Waits until the activity log holds n rows more than now.
bool WaitForMoreRows(const SandboxRun& run, size_t n) {
    const size_t target = LoggedRows(run) + n;
    return WaitUntil([&] { return LoggedRows(run) >= target; }, kBound);
}

// From the pairing on, so that the reader takes every record the board sends.
void StartTagsOncePaired(SandboxRun& run) {
    ASSERT_TRUE(run.WaitForRtcLine("\"kind\":\"RTCPAIRACK\"", kBound));
    ASSERT_TRUE(run.Control("tagrate 10"));
    ASSERT_TRUE(WaitForMoreRows(run, kRowsPerPhase));
}

// Stops the tags and waits until the reader has logged all the board sent.
void StopTags(SandboxRun& run) {
    ASSERT_TRUE(run.Control("tagrate 0"));
    ASSERT_TRUE(run.Control("stats"));
    ASSERT_TRUE(run.WaitForLine(run.SerialPath(), "STATS tags=", kBound));
    const size_t sent = BoardSentRecords(run.SerialPath()).size();
    ASSERT_TRUE(WaitUntil([&] { return LoggedRows(run) == sent; }, kBound)) << "rows missing from the log";
}

bool WaitForDelivered(const std::vector<RtcLine>& earlier, const SandboxRun& run, size_t n) {
    return WaitUntil([&] { return DeliveredRecords(earlier).size() + DeliveredRecords(RtcLines(run)).size() >= n; },
                     kBound);
}

// Indices 1, 2, 3... in the order the RTC received them.
void ExpectIndicesWithoutGapOrRepeat(const std::vector<uint64_t>& indices) {
    std::vector<uint64_t> expected(indices.size());
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(indices, expected);
}

struct Outage {
    const char* name;
    std::vector<std::string> begin;
    std::vector<std::string> end;
};

void PrintTo(const Outage& outage, std::ostream* out) { *out << outage.name; }

class Delivery : public testing::TestWithParam<Outage> {};

TEST_P(Delivery, EveryRecordOnceWithItsLoggedTimeAndFields) {
    const Outage& outage = GetParam();
    SandboxRun run;
    run.Start(DeliveryOptions(run));
    StartTagsOncePaired(run);
    for (const auto& line : outage.begin) ASSERT_TRUE(run.RtcControl(line));
    ASSERT_TRUE(WaitForMoreRows(run, kRowsPerPhase));
    for (const auto& line : outage.end) ASSERT_TRUE(run.RtcControl(line));
    ASSERT_TRUE(WaitForMoreRows(run, kRowsPerPhase));
    StopTags(run);

    const auto sent = BoardSentRecords(run.SerialPath());
    ASSERT_TRUE(WaitForDelivered({}, run, sent.size()));
    const auto lines = RtcLines(run);
    EXPECT_EQ(CompareDelivery(sent, ActivityLogRecords(ActivityLogPath(run)), DeliveredRecords(lines)), "");
    ExpectIndicesWithoutGapOrRepeat(DeliveredIndices(lines));
    EXPECT_EQ(CountEvents(lines, "BAD"), 0u) << "a malformed envelope reached the RTC";
}

INSTANTIATE_TEST_SUITE_P(
    Delivery, Delivery,
    // A pause of four seconds stays within the read time-out of ten.
    testing::Values(Outage{"RtcPresent", {}, {}}, Outage{"RtcStopsReadingAWhile", {"pause"}, {"resume"}},
                    Outage{"RtcAway", {"listen off", "close"}, {"listen on"}}),
    [](const auto& info) { return info.param.name; });

TEST(Delivery, StoppedDuringAnOutageTheReaderDeliversEverythingAfterItsRestart) {
    SandboxRun first;
    first.Start(DeliveryOptions(first));
    StartTagsOncePaired(first);
    ASSERT_TRUE(first.RtcControl("listen off"));
    ASSERT_TRUE(first.RtcControl("close"));
    ASSERT_TRUE(WaitForMoreRows(first, kRowsPerPhase));
    StopTags(first);
    // As procd stops it: the records not yet packed go with the queue.
    ASSERT_EQ(kill(first.PidFromFile("daemon.pid"), SIGTERM), 0);
    ASSERT_EQ(first.WaitForExit(10), 0);
    struct stat backup {};
    ASSERT_EQ(stat((first.WorkDir() + "/DataBackup.bin").c_str(), &backup), 0);
    EXPECT_GT(backup.st_size, 0);
    const auto sent = BoardSentRecords(first.SerialPath());
    const auto logged = ActivityLogRecords(ActivityLogPath(first));
    const auto before = RtcLines(first);

    SandboxRun second(first.Dir());
    second.Start(DeliveryOptions(second, false));
    ASSERT_TRUE(WaitForDelivered(before, second, sent.size()));
    const auto after = RtcLines(second);
    auto delivered = DeliveredRecords(before);
    auto indices = DeliveredIndices(before);
    for (const auto& r : DeliveredRecords(after)) delivered.push_back(r);
    for (uint64_t i : DeliveredIndices(after)) indices.push_back(i);
    EXPECT_EQ(CompareDelivery(sent, logged, delivered), "");
    ExpectIndicesWithoutGapOrRepeat(indices);
}

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

// How the RTC stands as the reader is killed: away, or paired while the
// package waits to be full or a keep-alive interval.
struct KillScene {
    const char* name;
    std::vector<std::string> rtcArgs;
    std::vector<std::string> rtcLines;
    const char* tagRate;
    size_t rowsBeforeTheKill;
};

void PrintTo(const KillScene& scene, std::ostream* out) { *out << scene.name; }

class Killed : public testing::TestWithParam<KillScene> {};

// SIGKILL (or a power cut) costs at most the records of the last two
// seconds: the queue is on disk as it grows, also while the reader hears
// no broadcast at all and waits in its discovery windows, and while a
// paired RTC's package fills slowly.
TEST_P(Killed, TheReaderLosesNoRecordOlderThanTwoSeconds) {
    const KillScene& scene = GetParam();
    SandboxRun first;
    SandboxOptions options = DeliveryOptions(first);
    options.rtcArgs = scene.rtcArgs;
    first.Start(options);
    StartTagsOncePaired(first);
    for (const auto& line : scene.rtcLines) ASSERT_TRUE(first.RtcControl(line));
    ASSERT_TRUE(first.Control(scene.tagRate));
    // A package written as the link closed is another fault's loss.
    const uint64_t sceneMs = NowMs() + 1000;
    ASSERT_TRUE(WaitForMoreRows(first, scene.rowsBeforeTheKill));
    const uint64_t killMs = NowMs();
    ASSERT_EQ(kill(first.PidFromFile("daemon.pid"), SIGKILL), 0);
    ASSERT_NE(first.WaitForExit(kBound), -1);
    std::vector<TagRecord> due;
    for (const TagRecord& r : ActivityLogRecords(ActivityLogPath(first)))
        if (r.visitMs > sceneMs && r.visitMs + 2000 < killMs) due.push_back(r);
    const auto before = RtcLines(first);
    std::remove(first.RtcLogPath().c_str());

    SandboxRun second(first.Dir());
    second.Start(DeliveryOptions(second, false));
    auto lost = [&] {
        std::set<std::tuple<uint32_t, uint32_t, uint64_t>> delivered;
        for (const auto& lines : {before, RtcLines(second)})
            for (const TagRecord& r : DeliveredRecords(lines)) delivered.insert(r.Identity());
        size_t n = 0;
        for (const TagRecord& r : due) n += delivered.count(r.Identity()) == 0;
        return n;
    };
    WaitUntil([&] { return lost() == 0; }, kBound);
    EXPECT_EQ(lost(), 0u) << "of " << due.size() << " records logged more than 2 s before the kill";
}

INSTANTIATE_TEST_SUITE_P(
    Delivery, Killed,
    // Paired at three tag messages a second a package takes some ten
    // seconds to fill, and the keep-alive interval is longer still.
    testing::Values(KillScene{"DuringAnOutage",
                              {"--json", "--keep-alive", "5"},
                              {"broadcast every 0", "listen off", "close"},
                              "tagrate 10",
                              2 * kRowsPerPhase},
                    KillScene{"WhilePairedUnderLightTraffic",
                              {"--json", "--keep-alive", "60"},
                              {},
                              "tagrate 3",
                              kRowsPerPhase}),
    [](const auto& info) { return info.param.name; });

// Fills the file system of path with a file of its own name; false when
// it could not be made. Bounded by the file system's size.
bool FillUp(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::string chunk(4096, 'x');
    while (write(fd, chunk.data(), chunk.size()) > 0) {
    }
    close(fd);
    return true;
}

// A full disk during an outage: a few error lines, and once room returns
// the queue, kept whole in memory, reaches the file and then the RTC.
TEST(Delivery, AFullDiskCostsNoRecordTheReaderHolds) {
    SandboxRun run;
    SandboxOptions options = DeliveryOptions(run);
    options.workKb = 512;
    run.Start(options);
    StartTagsOncePaired(run);
    ASSERT_TRUE(run.RtcControl("listen off"));
    ASSERT_TRUE(run.RtcControl("close"));
    // The daemon's working directory, seen from outside its mount namespace.
    const std::string filler = "/proc/" + std::to_string(run.PidFromFile("daemon.pid")) + "/cwd/filler";
    ASSERT_TRUE(FillUp(filler));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "Backup: failed to .* \\(No space left on device\\)", kBound));
    ASSERT_TRUE(WaitForMoreRows(run, kRowsPerPhase));
    ASSERT_EQ(unlink(filler.c_str()), 0);
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "Backup: .* written again from memory", kBound));
    EXPECT_LE(run.MatchingLines(run.SyslogPath(), "Backup: failed to").size(), 3u);
    ASSERT_TRUE(run.RtcControl("listen on"));
    StopTags(run);

    const auto sent = BoardSentRecords(run.SerialPath());
    ASSERT_TRUE(WaitForDelivered({}, run, sent.size()));
    EXPECT_EQ(CompareDelivery(sent, ActivityLogRecords(ActivityLogPath(run)), DeliveredRecords(RtcLines(run))), "");
}

// Records as the backup holds them: flag byte, the envelope key 0x1A, the
// package's length as a varint, the package.
void AppendBackupRecord(uint8_t flags, const ZemloReaderDataPackage& package, std::string* file) {
    std::string bytes = package.SerializeAsString();
    file->push_back(static_cast<char>(flags));
    file->push_back('\x1a');
    for (uint32_t n = static_cast<uint32_t>(bytes.size());; n >>= 7) {
        file->push_back(static_cast<char>(n < 0x80 ? n : (n & 0x7F) | 0x80));
        if (n < 0x80) break;
    }
    *file += bytes;
}

ZemloReaderDataPackage CraftedPackage(uint64_t index, uint32_t firstTag, int records) {
    ZemloReaderDataPackage package;
    package.mutable_message_header()->set_message_index(index);
    package.set_package_timestamp(1700000000000 + index);
    for (int i = 0; i < records; ++i) {
        RFTagDataPackage* entry = package.add_tags_data();
        entry->set_tag_id(firstTag + static_cast<uint32_t>(i));
        entry->set_tag_msg_id(static_cast<uint32_t>(i + 3));
        entry->set_visit_timestamp(1700000000000 + 1000 * static_cast<uint64_t>(i));
        entry->set_extra_info("");
        RFTagActivityData* a = entry->mutable_activity_data();
        a->set_pedo_steps(100 + static_cast<uint32_t>(i));
        a->set_standing_time(7);
        a->set_laying_count(1);
        a->set_laying_time(2);
        a->set_position(RFTagActivityData::STANDING);
    }
    return package;
}

TEST(Delivery, ACraftedBackupIsLoadedWithoutItsTornLastRecordDeliveredAndNewPackagesNumberedAboveIt) {
    SandboxRun run;
    const std::vector<ZemloReaderDataPackage> crafted = {CraftedPackage(7, 5001, 2), CraftedPackage(9, 6001, 3)};
    std::string file;
    AppendBackupRecord(0, crafted[0], &file);
    AppendBackupRecord(2, crafted[1], &file);  // already through a clock correction
    // A power cut during an append: the last record is cut short.
    std::string torn;
    AppendBackupRecord(0, CraftedPackage(10, 7001, 2), &torn);
    file += torn.substr(0, torn.size() / 2);
    ASSERT_EQ(mkdir(run.WorkDir().c_str(), 0755), 0);
    std::ofstream(run.WorkDir() + "/DataBackup.bin", std::ios::binary) << file;

    run.Start(DeliveryOptions(run));
    StartTagsOncePaired(run);
    StopTags(run);
    const size_t fresh = BoardSentRecords(run.SerialPath()).size();
    ASSERT_TRUE(WaitForDelivered({}, run, fresh + 5));

    std::vector<ZemloReaderDataPackage> received;
    for (const RtcLine& line : Received(RtcLines(run), "READERDATAPACKAGE")) {
        received.emplace_back();
        ASSERT_TRUE(ParseMessage(line, &received.back()));
    }
    ASSERT_GE(received.size(), 3u);
    for (size_t i = 0; i < crafted.size(); ++i) {
        EXPECT_EQ(received[i].message_header().message_index(), crafted[i].message_header().message_index());
        ASSERT_EQ(received[i].tags_data_size(), crafted[i].tags_data_size());
        for (int k = 0; k < crafted[i].tags_data_size(); ++k) {
            EXPECT_TRUE(google::protobuf::util::MessageDifferencer::Equals(received[i].tags_data(k),
                                                                           crafted[i].tags_data(k)))
                << received[i].tags_data(k).DebugString();
        }
    }
    for (size_t i = crafted.size(); i < received.size(); ++i) {
        EXPECT_EQ(received[i].message_header().message_index(), 10 + (i - crafted.size()));
    }
    EXPECT_FALSE(run.MatchingLines(run.SyslogPath(), "LoadQFromFile: 2 packages, 5 tag records loaded").empty());
    EXPECT_EQ(run.MatchingLines(run.SyslogPath(),
                                "ends inside a record; its last " + std::to_string(torn.size() / 2) + " bytes dropped")
                  .size(),
              1u);
}

// Packages that left the queue are marked on disk at once: a restart after
// delivery, even by SIGKILL, sends none of them again, neither new ones nor
// those reloaded from a backup.
TEST(Delivery, KilledAfterDeliveryTheReaderSendsNothingAgain) {
    SandboxRun first;
    std::string file;
    AppendBackupRecord(0, CraftedPackage(7, 5001, 2), &file);
    ASSERT_EQ(mkdir(first.WorkDir().c_str(), 0755), 0);
    std::ofstream(first.WorkDir() + "/DataBackup.bin", std::ios::binary) << file;
    first.Start(DeliveryOptions(first));
    StartTagsOncePaired(first);
    StopTags(first);
    ASSERT_TRUE(WaitForDelivered({}, first, BoardSentRecords(first.SerialPath()).size() + 2));
    ASSERT_EQ(kill(first.PidFromFile("daemon.pid"), SIGKILL), 0);
    ASSERT_NE(first.WaitForExit(kBound), -1);
    // No line of the first run may answer for the second.
    std::remove(first.SyslogPath().c_str());
    std::remove(first.RtcLogPath().c_str());

    SandboxRun second(first.Dir());
    second.Start(DeliveryOptions(second, false));
    ASSERT_TRUE(second.WaitForLine(second.SyslogPath(), "LoadQFromFile: [0-9]+ packages", kBound));
    EXPECT_EQ(second.MatchingLines(second.SyslogPath(), "LoadQFromFile: [0-9]+ packages, 0 tag records loaded").size(),
              1u);
    // Paired and past a keep-alive: anything reloaded would have gone first.
    ASSERT_TRUE(second.WaitForRtcLine("\"kind\":\"RTCPAIRACK\"", kBound));
    ASSERT_TRUE(second.WaitForRtcLine("\"dir\":\"recv\",\"envelope\":[0-9]+,\"kind\":\"KEEPALIVE\"", kBound));
    EXPECT_TRUE(DeliveredRecords(RtcLines(second)).empty());
}

// Confirmed delivery: what the RTC received, connection by connection,
// and which indexes it said it persisted.
struct ConnectionRecord {
    std::vector<std::vector<uint64_t>> received;  // indexes per connection, in order
    std::set<uint64_t> persisted;
    std::vector<TagRecord> persistedRecords;       // of the packages persisted, repeats included
};

ConnectionRecord RecordByConnection(const std::vector<RtcLine>& lines) {
    ConnectionRecord record;
    std::map<uint64_t, std::vector<TagRecord>> recordsOf;
    for (const RtcLine& line : lines) {
        if (line.event == "CONNECT") record.received.emplace_back();
        if (line.dir == "sent" && line.kind == "RTCPERSISTACK") {
            RtcAcknowledgePersistedTagData ack;
            if (ParseMessage(line, &ack))
                record.persisted.insert(ack.persisted_message_numbers().begin(), ack.persisted_message_numbers().end());
        }
        if (line.dir != "recv" || line.kind != "READERDATAPACKAGE" || record.received.empty()) continue;
        const std::vector<RtcLine> one = {line};
        const auto indices = DeliveredIndices(one);
        if (indices.empty()) continue;
        record.received.back().push_back(indices[0]);
        recordsOf[indices[0]] = DeliveredRecords(one);
    }
    for (uint64_t index : record.persisted)
        for (const TagRecord& r : recordsOf[index]) record.persistedRecords.push_back(r);
    return record;
}

void ExpectNoneTwiceOnOneConnection(const ConnectionRecord& record) {
    for (size_t c = 0; c < record.received.size(); ++c) {
        std::set<uint64_t> seen;
        for (uint64_t index : record.received[c])
            EXPECT_TRUE(seen.insert(index).second) << index << " twice on connection " << c + 1;
    }
}

size_t SentAgain(const ConnectionRecord& record) {
    std::set<uint64_t> seen;
    size_t again = 0;
    for (const auto& connection : record.received)
        for (uint64_t index : connection) again += seen.insert(index).second ? 0 : 1;
    return again;
}

// Every record the board sent, in a package the RTC persisted (a package
// written again on a later connection counts once).
void ExpectEveryRecordPersisted(const SandboxRun& run, const ConnectionRecord& record) {
    std::set<TagRecord> unique(record.persistedRecords.begin(), record.persistedRecords.end());
    EXPECT_EQ(CompareDelivery(BoardSentRecords(run.SerialPath()), ActivityLogRecords(ActivityLogPath(run)),
                              {unique.begin(), unique.end()}),
              "");
}

bool WaitForEveryRecordPersisted(const SandboxRun& run, size_t sent) {
    return WaitUntil(
        [&] {
            const auto record = RecordByConnection(RtcLines(run));
            return std::set<TagRecord>(record.persistedRecords.begin(), record.persistedRecords.end()).size() >= sent;
        },
        kBound);
}

// nft in the sandbox's network namespace.
bool Nft(const SandboxRun& run, const std::string& rules) {
    const std::string netns = "--net=/proc/" + std::to_string(run.PidFromFile("sandbox.pid")) + "/ns/net";
    const CommandResult result = RunCommand({"nsenter", netns, "nft", rules}, 30);
    EXPECT_EQ(result.status, 0) << result.out;
    return result.status == 0;
}

// Wi-Fi lost or the RTC's host gone without a word: every TCP segment of
// the RTC's port is dropped until the link has timed out, while tags keep
// coming; then the network comes back.
TEST(Delivery, ASilentLinkLosesNothingAndSendsNothingTwiceOnOneConnection) {
    SandboxRun run;
    SandboxOptions options = DeliveryOptions(run);
    options.rtcArgs = {"--json", "--keep-alive", "2"};
    run.Start(options);
    ASSERT_TRUE(run.WaitForRtcLine("\"kind\":\"RTCPAIRACK\"", kBound));
    ASSERT_TRUE(run.Control("tagrate 20"));
    ASSERT_TRUE(run.WaitForRtcLine("persisted_message_numbers", kBound));
    ASSERT_TRUE(Nft(run, "add table inet silent; "
                         "add chain inet silent out { type filter hook output priority 0; }; "
                         "add rule inet silent out tcp dport 53010 drop; "
                         "add rule inet silent out tcp sport 53010 drop"));
    ASSERT_TRUE(run.WaitForLine(run.SyslogPath(), "nothing from the RTC for", kBound));
    ASSERT_TRUE(WaitForMoreRows(run, kRowsPerPhase));
    ASSERT_TRUE(Nft(run, "delete table inet silent"));
    ASSERT_TRUE(WaitForMoreRows(run, kRowsPerPhase));
    StopTags(run);

    const size_t sent = BoardSentRecords(run.SerialPath()).size();
    ASSERT_TRUE(WaitForEveryRecordPersisted(run, sent));
    const auto record = RecordByConnection(RtcLines(run));
    EXPECT_GE(record.received.size(), 2u) << "the link did not drop";
    ExpectNoneTwiceOnOneConnection(record);
    ExpectEveryRecordPersisted(run, record);
    std::cout << "silent link: " << sent << " records, " << SentAgain(record)
              << " packages the RTC received twice (on two connections)" << std::endl;
}

// The RTC reads packages without persisting them and resets: they come
// again on the next connection, are persisted there and not sent again.
TEST(Delivery, PackagesReadButNotPersistedBeforeAnRtcResetComeAgain) {
    SandboxRun run;
    SandboxOptions options = DeliveryOptions(run);
    options.rtcArgs = {"--json", "--keep-alive", "2"};
    run.Start(options);
    ASSERT_TRUE(run.WaitForRtcLine("\"kind\":\"RTCPAIRACK\"", kBound));
    ASSERT_TRUE(run.Control("tagrate 10"));
    // Acknowledged first: a reader whose RTC never acknowledged has no
    // reason to wait for it.
    ASSERT_TRUE(run.WaitForRtcLine("persisted_message_numbers", kBound));
    ASSERT_TRUE(run.RtcControl("persist off"));
    ASSERT_TRUE(run.WaitForRtcLine("\"event\":\"WITHHELD\"", kBound, 2));
    ASSERT_TRUE(run.RtcControl("persist on"));
    ASSERT_TRUE(run.RtcControl("reset"));
    ASSERT_TRUE(run.WaitForRtcLine("\"event\":\"CONNECT\"", kBound, 1));
    ASSERT_TRUE(WaitForMoreRows(run, kRowsPerPhase));
    StopTags(run);

    const size_t sent = BoardSentRecords(run.SerialPath()).size();
    ASSERT_TRUE(WaitForEveryRecordPersisted(run, sent));
    const auto record = RecordByConnection(RtcLines(run));
    ASSERT_GE(record.received.size(), 2u);
    std::set<uint64_t> withheld;
    static const std::regex withheldLine("\"event\":\"WITHHELD\",\"index\":\"([0-9]+)\"");
    for (const std::string& line : run.MatchingLines(run.RtcLogPath(), "WITHHELD")) {
        std::smatch m;
        if (std::regex_search(line, m, withheldLine)) withheld.insert(std::stoull(m[1]));
    }
    ASSERT_GE(withheld.size(), 3u);
    const auto& again = record.received[1];
    for (uint64_t index : withheld) {
        EXPECT_NE(std::find(again.begin(), again.end(), index), again.end()) << index << " did not come again";
        EXPECT_TRUE(record.persisted.count(index)) << index;
    }
    // First on the new connection, in index order.
    ASSERT_GE(again.size(), withheld.size());
    EXPECT_EQ(std::vector<uint64_t>(again.begin(), again.begin() + static_cast<long>(withheld.size())),
              std::vector<uint64_t>(withheld.begin(), withheld.end()));
    ExpectNoneTwiceOnOneConnection(record);
    EXPECT_EQ(SentAgain(record), withheld.size()) << "a persisted package was sent again";
    ExpectEveryRecordPersisted(run, record);
}

}  // namespace

