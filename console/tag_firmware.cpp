#include "console/tag_firmware.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "console/console_io.h"
#include "params/rf_settings.h"
#include "params/rf_settings_file.h"
#include "platform/atomic_file.h"
#include "platform/byte_order.h"
#include "platform/timing.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/scheduler.h"

namespace {

constexpr uint8_t kTagFwBlockKind = 5;  // the first data byte of every block
constexpr size_t kMaxFwPathInput = 4094;
// A pause longer than this between blocks is a typing error.
constexpr int32_t kMaxDelayMillis = 60000;
constexpr int kDefaultDelayMillis = 100;
// The listener writes one block per silence on the line; without a pause
// between blocks the console would outrun it, and the queue drops what does
// not fit: the tags would get an image with holes.
constexpr size_t kMaxBlocksAhead = 32;
constexpr int kQueuePollMicros = 5000;
constexpr int kQueueRoomWaitMicros = 10000000;

// The image's path, kept for the rest of the run.
std::string FWFilePath;
bool ContinuousLoad = false;
int32_t DelayTime = kDefaultDelayMillis;  // milliseconds between blocks

bool AllDigits(const std::string& text) {
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
}

// A missing pair counts 0.
uint8_t DigitPair(const std::string& digits, size_t at) {
    return at < digits.size() ? static_cast<uint8_t>(std::stoi(digits.substr(at, 2))) : 0;
}

// The first word of the container file becomes the image's path.
bool TakePathFromContainer() {
    FILE* container = std::fopen(FwFileContainerPath, "r");
    if (container == nullptr) {
        std::fprintf(stderr, "Could not open %s\n", FwFileContainerPath);
        return false;
    }
    static_assert(kMaxFwPathInput == 4094, "the width in the format below");
    std::vector<char> word(kMaxFwPathInput + 1, '\0');
    if (std::fscanf(container, "%4094s", word.data()) != 1) word[0] = '\0';
    std::fclose(container);
    FWFilePath = word.data();
    if (FWFilePath.empty()) {
        std::fputs("FW file path not set\n", stderr);
        return false;
    }
    return true;
}

// Up to kTagFwBlockBytes; the rest of buf stays as it was. False on a read
// error.
bool ReadBlock(int fd, uint8_t* buf) {
    size_t have = 0;
    while (have < kTagFwBlockBytes) {
        const ssize_t n = read(fd, buf + have, kTagFwBlockBytes - have);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        have += static_cast<size_t>(n);
    }
    return true;
}

bool WaitForQueueRoom() {
    for (int waited = 0; waited < kQueueRoomWaitMicros; waited += kQueuePollMicros) {
        if (PendingSubGRequests() < kMaxBlocksAhead) return true;
        MicroSecSleep(kQueuePollMicros);
    }
    return false;
}

void SendBlocks(int fd, TagSwGeneration generation, const TagFwVersion& version, uint16_t blocks) {
    for (uint16_t n = 0; n < blocks; ++n) {
        uint8_t bytes[kTagFwBlockBytes];
        std::memset(bytes, 0xFF, sizeof bytes);
        if (!ReadBlock(fd, bytes)) {
            std::fprintf(stderr, "Could not read file %s (%s)\n", FWFilePath.c_str(), std::strerror(errno));
            return;
        }
        if (!WaitForQueueRoom()) {
            std::fputs("The board takes no blocks, upload stopped\n", stderr);
            return;
        }
        AddSubGRequest(TagFwBlockRequest(generation, version, n, blocks, bytes));
        std::fprintf(stderr, "Sending Message number %d\n", n);
        if (!ContinuousLoad) {
            ParseNum();  // the operator's go-ahead; what is typed does not matter
            if (ConsoleInputEnded()) return;
        }
        MicroSecSleep(DelayTime * 1000);
    }
}

// The image, opened, and its number of blocks; -1 after telling the operator
// why not.
int OpenImage(uint16_t* blocks) {
    const char* path = FWFilePath.c_str();
    struct stat status;
    if (stat(path, &status) != 0) {
        std::fprintf(stderr, "File %s could not be found!! (%s)\n", path, std::strerror(errno));
        return -1;
    }
    // The block count travels in 16 bits.
    const long long count = (static_cast<long long>(status.st_size) + kTagFwBlockBytes - 1) / kTagFwBlockBytes;
    if (!S_ISREG(status.st_mode) || count > UINT16_MAX) {
        std::fprintf(stderr, "Could not open file %s\n", path);
        return -1;
    }
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) std::fprintf(stderr, "Could not open file %s\n", path);
    *blocks = static_cast<uint16_t>(count);
    return fd;
}

}  // namespace

int extractVersion(const std::string& path, TagFwVersion* out) {
    *out = TagFwVersion{};
    // Only the file name: a directory with a V, an underscore or "AP" in its
    // name must not lend the image a version or a slot.
    const std::string name = path.substr(path.rfind('/') + 1);
    const size_t v = name.find('V');
    if (v == std::string::npos || name.size() - v < 4) return 0;
    const size_t underscore = name.find('_', v);
    if (underscore == std::string::npos || underscore - v < 4 || underscore - v > 7) return 0;
    const std::string digits = name.substr(v + 1, underscore - v - 1);
    if (!AllDigits(digits)) return 0;
    const size_t ap = name.find("AP");
    if (ap == std::string::npos || name.size() - ap < 3 || !std::isdigit(static_cast<unsigned char>(name[ap + 2]))) {
        return 0;
    }
    if (digits.size() == 3) {
        out->version = static_cast<uint8_t>(std::stoi(digits));
    } else {
        out->major = DigitPair(digits, 0);
        out->minor = DigitPair(digits, 2);
        out->bug = DigitPair(digits, 4);
    }
    out->appId = static_cast<uint8_t>((name[ap + 2] - '0') << 7);
    return 1;
}

T7734FrameRequest TagFwBlockRequest(TagSwGeneration generation, const TagFwVersion& version, uint16_t n,
                                    uint16_t blocks, const uint8_t* bytes) {
    uint8_t data[kMaxFrameData];
    size_t len = 0;
    data[len++] = kTagFwBlockKind;
    uint8_t opcode = SubGOp::TagFwBlock;
    if (generation == TagSwGeneration::Sw010101) {
        for (uint8_t part : {version.bug, version.minor, version.major, version.appId}) data[len++] = part;
    } else {
        opcode = generation == TagSwGeneration::Sw001 ? SubGOp::TagFwBlock001 : SubGOp::TagFwBlock002;
        data[len++] = static_cast<uint8_t>((version.version & 0x7F) | version.appId);
    }
    PutLE16(data + len, n);
    PutLE16(data + len + 2, blocks);
    len += 4;
    std::memcpy(data + len, bytes, kTagFwBlockBytes);
    return MakeRequest(opcode, data, len + kTagFwBlockBytes);
}

// An empty answer keeps the path already known, in memory and in the
// container file.
void GetFwFilePath() {
    std::fputs("Please enter FW file path:\n", stderr);
    std::string path;
    const ConsoleLine read = ReadConsoleLine(&path, kMaxFwPathInput);
    if (read == ConsoleLine::TooLong) std::fprintf(stderr, "FW file path longer than %zu characters\n", kMaxFwPathInput);
    if (read != ConsoleLine::Read || path.empty()) return;
    FWFilePath = path;
    WriteFileAtomically(FwFileContainerPath, path.data(), path.size());
}

void StartFwLoadPacketByPacket() {
    ContinuousLoad = false;
    SendFirmware();
}

void StartFwLoadContinuous() {
    std::fputs("Please enter delay in ms:\n", stderr);
    if (!ReadConsoleNumber({"Delay", 0, kMaxDelayMillis, " ms"}, &DelayTime)) return;
    ContinuousLoad = true;
    SendFirmware();
}

void SendFirmware() {
    std::fputs("Please select taregt tag's SW version:\n\t1) SW version 001\n\t2) SW version 002\n"
               "\t3) SW version 01.01.01 and above\n",
               stderr);
    const int32_t choice = ParseNum();
    if (choice < 1 || choice > 3) {
        if (!ConsoleInputEnded()) std::fprintf(stderr, "Unknown SW version %d, nothing sent\n", choice);
        return;
    }
    if (FWFilePath.empty() && !TakePathFromContainer()) return;
    TagFwVersion version;
    if (!extractVersion(FWFilePath, &version)) {
        std::fprintf(stderr, "Could not extract version and APP id from %s\n", FWFilePath.c_str());
        return;
    }
    if (version.version == 0 && version.major == 0) {
        std::fputs("FW version not set\n", stderr);
        return;
    }
    uint16_t blocks = 0;
    const int fd = OpenImage(&blocks);
    if (fd < 0) return;
    // While set, the listener writes nothing but the blocks.
    WhileInFWUpgrade = 1;
    SendBlocks(fd, static_cast<TagSwGeneration>(choice), version, blocks);
    close(fd);
    WhileInFWUpgrade = 0;
}
