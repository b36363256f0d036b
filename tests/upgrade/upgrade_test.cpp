#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/byte_order.h"
#include "platform/serial_port.h"
#include "platform/timing.h"
#include "subg/link_loan.h"
#include "subg/request_queue.h"
#include "subgconfig/versions.h"
#include "support/scratch_dir.h"
#include "upgrade/boot_loader.h"
#include "upgrade/image_files.h"
#include "upgrade/upgrade.h"

namespace {

TEST(Upgrade, GetImageVersionReadsFourDecimalPairsAfterAKnownPrefix) {
    const struct {
        const char* name;
        int version;
    } cases[] = {
        {"RD2_A_01_01020304.hex", 0x01020304},
        {"RD2_L_01_99000010", 0x6300000A},
        {"RD1_A_01_00000102_x.signature", 0x00000102},
        {"xRD2_A_01_01020304", 0x01020304},  // found anywhere in the name
        {"RD2_A_01_ab020304", 0x00020304},   // a pair that is no number counts 0
        {"RD2_A_01_0102", -1},               // the version is cut short
        {"RD2_A_01", -1},                    // too short
        {"firmware_01020304.hex", -1},       // no prefix
    };
    for (const auto& c : cases) EXPECT_EQ(GetImageVersion(c.name), c.version) << c.name;
}

TEST(Upgrade, AnImageNameIsAPrefixItsEightVersionDigitsAndAtMostOneExtension) {
    const struct {
        const char* name;
        ImageAction action;
    } cases[] = {
        {"RD2_A_01_01020304.hex", kInstallApplication},
        {"RD2_A_01_01020304", kInstallApplication},
        {"DE_RD2_A_01_01020304", kDeactivateApplication},
        {"RD2_L_01_02000000.bin", kInstallBootLoader},
        {"DE_RD2_L_01_01000000", kDeactivateBootLoader},
        {"failed_RD2_A_01_01020304.hex", kNoImageAction},  // set aside
        {"rejected_DE_RD2_L_01_01000000", kNoImageAction},
        {"RD2_A_01_01020304.hex.failed", kNoImageAction},  // set aside by an older release
        {"RD2_A_01_01020304.hex.rejected.rejected", kNoImageAction},
        {"RD2_A_01_01020304.hex.filepart", kNoImageAction},  // still being copied
        {"RD2_A_01_01020304_x.hex", kNoImageAction},
        {"RD2_A_01_01020304.", kNoImageAction},
        {"RD2_A_01_010203045", kNoImageAction},
        {"RD2_A_01_0102030x.hex", kNoImageAction},
        {"RD2_A_01_0102", kNoImageAction},
        {"xRD2_A_01_01020304.hex", kNoImageAction},
        {"notes.txt", kNoImageAction},
    };
    for (const auto& c : cases) EXPECT_EQ(ImageActionOfName(c.name), c.action) << c.name;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(Upgrade, TheSearchTakesARegularImageFileAndSetsAsideOneWithoutAVersion) {
    const struct {
        std::vector<std::string> files;
        std::string chosen;  // empty: none
        uint32_t version;
        std::vector<std::string> after;
    } cases[] = {
        {{"DE_RD2_A_01_01020304"}, "DE_RD2_A_01_01020304", 0x01020304, {"DE_RD2_A_01_01020304"}},
        // Wherever they are listed, names without a version hide nothing.
        {{"RD2_A_01_x.hex", "RD2_L_01_02000000.hex", "RD2_A_01_0102"},
         "RD2_L_01_02000000.hex",
         0x02000000,
         {"rejected_RD2_A_01_x.hex", "rejected_RD2_A_01_0102", "RD2_L_01_02000000.hex"}},
        {{"failed_RD2_A_01_01020304.hex", "rejected_RD2_A_01_x.hex", "RD2_A_01_01020304.hex.failed"},
         "",
         0,
         {"failed_RD2_A_01_01020304.hex", "rejected_RD2_A_01_x.hex", "RD2_A_01_01020304.hex.failed"}},
    };
    for (const auto& c : cases) {
        ScratchDir dir("tarnel-image-", ScratchDir::Cwd::Enter);
        for (const auto& f : c.files) std::ofstream(f) << ":00000001FF\n";
        ImageVersion = 0;
        EXPECT_EQ(CheckForUpdateFile(), c.chosen.empty() ? 0 : 1) << c.chosen;
        EXPECT_EQ(std::string(FW_File_name), c.chosen);
        EXPECT_EQ(ImageVersion, c.version) << c.chosen;
        size_t present = 0;
        for (const auto& f : c.after) present += Exists(f);
        EXPECT_EQ(present, c.after.size()) << c.chosen;
    }
}

TEST(Upgrade, ADirectoryOrAFifoWithAnImageNameIsNoImage) {
    ScratchDir dir("tarnel-image-", ScratchDir::Cwd::Enter);
    ASSERT_EQ(mkdir("RD2_A_01_01020304", 0755), 0);
    ASSERT_EQ(mkfifo("RD2_L_01_02000000.hex", 0644), 0);
    EXPECT_EQ(CheckForUpdateFile(), 0);
}

// Another borrower holds the port, as the console does while it uploads
// tag firmware: more rounds than the failures allowed leave the image alone.
TEST(Upgrade, RoundsInWhichThePortIsNotLentAreNoFailedAttempts) {
    ScratchDir dir("tarnel-image-", ScratchDir::Cwd::Enter);
    const std::string image = "RD2_A_01_01061100.hex";
    std::ofstream(image) << ":00000001FF\n";
    std::thread listener([] {
        for (int i = 0; i < 5000 && !LendSerialLinkIfAsked(); ++i) MicroSecSleep(1000);
    });
    const bool borrowed = BorrowSerialLink(5000000);
    EXPECT_TRUE(borrowed);
    for (int round = 0; borrowed && round <= kMaxFailedAttempts; ++round) UpgradeRound();
    ReturnSerialLink();
    listener.join();
    EXPECT_TRUE(Exists(image));
    EXPECT_FALSE(Exists(kFailedImageMark + image));
}

// A record as the board reports it: application and boot loader versions.
void StoreRecord(uint32_t application, uint32_t bootLoader) {
    uint8_t record[kGVTSize] = {};
    PutLE32(record + kGVTApplicationVersionAt, application);
    PutLE32(record + kGVTBootLoaderVersionAt, bootLoader);
    ParseSubGServiceInfo(record);
}

// The board's versions after the activation tell whether it took.
TEST(Upgrade, AnActivationSucceedsOnlyWhenTheBoardReportsTheImagesVersion) {
    const uint32_t image = 0x01060B00;  // 1.6.11.0
    const uint32_t old = 0x01060A00;
    const uint32_t loader = 0x01000000;
    const struct {
        const char* what;
        int action;
        std::vector<uint32_t> first, later;  // application and boot loader of a record, stored at once or 50 ms on
        bool confirmed;
    } cases[] = {
        {"application runs the image", kInstallApplication, {image, loader}, {}, true},
        {"application still the old one", kInstallApplication, {old, loader}, {}, false},
        {"an old record on its way, then the image", kInstallApplication, {old, loader}, {image, loader}, true},
        {"boot loader runs the image", kInstallBootLoader, {old, image}, {}, true},
        {"only the application has the number", kInstallBootLoader, {image, loader}, {}, false},
        {"no record at all", kInstallApplication, {}, {}, false},
    };
    for (const auto& c : cases) {
        const uint64_t before = SnapshotSubGBoardGVT().stored;
        if (!c.first.empty()) StoreRecord(c.first[0], c.first[1]);
        std::thread board([&c] {
            MicroSecSleep(50000);
            if (!c.later.empty()) StoreRecord(c.later[0], c.later[1]);
        });
        EXPECT_EQ(ConfirmActivation(c.action, image, before, 500000), c.confirmed) << c.what;
        board.join();
    }
}

TEST(Upgrade, AnImageLineTravelsBehindItsNumberAndTheFlagByte) {
    const std::string line = ":10010000214601360121470136007EFE09D2190140\r\n";
    T7734FrameRequest request = ImageLineRequest(kSubGAppAddress, 0x0105, line.data(), line.size());
    uint8_t wire[kMaxFrameLen];
    ASSERT_EQ(RequestToWire(request, wire, sizeof(wire)), line.size() + 8);
    const uint8_t header[] = {1, static_cast<uint8_t>(line.size() + 8), 20, 16, 0x05, 0x01, 1};
    EXPECT_EQ(std::vector<uint8_t>(wire, wire + 7), std::vector<uint8_t>(header, header + 7));
    EXPECT_EQ(std::string(wire + 7, wire + 7 + line.size()), line);
    EXPECT_EQ(wire[line.size() + 7], WireChecksum(wire, line.size() + 8));

    const std::string longest(kMaxImageLineChars, 'A');
    request = ImageLineRequest(kSubGBootRomAddress, 0, longest.data(), longest.size());
    EXPECT_EQ(request.length, 255);
    EXPECT_EQ(request.address, kSubGBootRomAddress);
}

TEST(Upgrade, CapabilityWordsComeOnlyWithALengthAbove20) {
    T7734FrameReply reply{};
    const uint32_t words[4] = {64000, 128, 3000, 0};
    for (int i = 0; i < 4; ++i) PutLE32(reply.data + 4 * i, words[i]);
    const struct {
        uint8_t length;
        std::vector<uint32_t> expected;
    } cases[] = {
        {20, {120000, 80, 1000, 2}},
        {21, {64000, 128, 3000, 1}},  // a time unit of 0 would wait for no reply
    };
    for (const auto& c : cases) {
        reply.length = c.length;
        uint32_t capabilities[4] = {};
        CapabilitiesFromReply(reply, capabilities);
        EXPECT_EQ(std::vector<uint32_t>(capabilities, capabilities + 4), c.expected) << int{c.length};
    }
}

TEST(Upgrade, EachLoaderErrorHasItsTextAndOnlyError6AsksForTheVersionsAgain) {
    const struct {
        int code;
        const char* tail;
        size_t queued;
    } cases[] = {
        {0, "line send succeed", 0},
        {1, "wrong major sub unit type", 0},
        {2, "wrong hex format", 0},
        {3, "line checksum error", 0},
        {4, "line line length does not match", 0},
        {5, "frame error", 0},
        {6, "can not set image address or version already active", 1},
        {7, "file length does not match", 0},
        {8, "file checksum does not match", 0},
        {9, "failed to read checksum", 0},
        {10, "wrong device type", 0},
        {11, "with an unknown error", 0},
        {-1, "with an unknown error", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::string(LoaderErrorText(c.code)), std::string("ProcessFWUpgrade: Boot loader replied ") + c.tail);
        size_t before = PendingSubGRequests();
        PrintErrorReason(c.code);
        PrintErrorReason(c.code);
        EXPECT_EQ(PendingSubGRequests() - before, c.queued) << c.code;
    }
}

TEST(Upgrade, AnImageWithALineThatNoFrameHoldsIsRefused) {
    const struct {
        std::string content;
        ImageCheck expected;
    } cases[] = {
        {":00000001FF\n" + std::string(kMaxImageLineChars - 1, 'A') + "\n", ImageCheck::kGood},
        {":00000001FF\n" + std::string(kMaxImageLineChars, 'A') + "\n", ImageCheck::kLineTooLong},
        {std::string(kMaxImageLineChars + 1, 'A'), ImageCheck::kLineTooLong},
        {"", ImageCheck::kEmpty},
    };
    ScratchDir dir("tarnel-image-");
    const std::string path = dir.Path() + "/RD2_A_01_01020304.hex";
    for (const auto& c : cases) {
        std::ofstream(path, std::ios::binary) << c.content;
        EXPECT_EQ(CheckImageLines(path.c_str()), c.expected) << c.content.size();
    }
    EXPECT_EQ(CheckImageLines((dir.Path() + "/missing").c_str()), ImageCheck::kUnreadable);
}

// The board's side of a pty answers every request with the given bytes.
class PtyBoard {
public:
    explicit PtyBoard(std::vector<uint8_t> answer) : answer_(std::move(answer)) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        host_ = ConfigurePort(OpenSerialPort(ptsname(master_)));
        thread_ = std::thread([this] { Answer(); });
    }
    ~PtyBoard() {
        stop_ = true;
        thread_.join();
        close(host_);
        close(master_);
    }
    int HostFd() const { return host_; }
    void Stale(const std::vector<uint8_t>& bytes) { ASSERT_EQ(write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

private:
    void Answer() {
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            uint8_t request[512];
            if (read(master_, request, sizeof(request)) > 0 && !answer_.empty()) {
                ASSERT_EQ(write(master_, answer_.data(), answer_.size()), ssize_t(answer_.size()));
            }
        }
    }

    std::vector<uint8_t> answer_;
    int master_ = -1;
    int host_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST(Upgrade, OnlyAWholeReplyWithTheRequestsOpcodeAnswersTheExchange) {
    const std::vector<uint8_t> capabilities = {5, 1, 20, 22, 5 ^ 1 ^ 20 ^ 22};
    const struct {
        const char* what;
        std::vector<uint8_t> answer;
        bool staleReplyFirst;
        int expected;
    } cases[] = {
        {"whole reply", capabilities, false, 1},
        {"whole reply, its checksum not checked", {5, 1, 20, 22, 0}, false, 1},
        {"stale reply drained, then silence", {}, true, 0},
        {"reply that never reaches its length", {10, 1, 20, 22}, false, 0},
        {"other opcode", {5, 1, 20, 23, 5 ^ 1 ^ 20 ^ 23}, false, 0},
    };
    for (const auto& c : cases) {
        PtyBoard board(c.answer);
        if (c.staleReplyFirst) board.Stale(capabilities);
        mSerialFD = board.HostFd();
        SubGBoardMsg = MakeRequest(22);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(WriteAndWaitForReply(100), c.expected) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.what;
    }
}

}  // namespace
