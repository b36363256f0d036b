#include "upgrade/boot_loader.h"

#include "platform/log.h"
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/reset_line.h"
#include "platform/timing.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/serial_listener.h"
#include "upgrade/image_files.h"

T7734FrameRequest SubGBoardMsg{};
uint32_t CurrLoaderCapabilities[4] = {};
int mSerialFD = -1;

namespace {

constexpr int kMaxAttempts = 5;
constexpr int kMaxDrainReads = 11;
constexpr int kGatherPauseMicros = 500;
constexpr int kWrongOpcodePauseMicros = 500000;

constexpr int kStopOnBootRomMs = 500;
constexpr int kStopOnLoaderMs = 50000;
constexpr int kCapabilitiesMs = 500;
constexpr int kLoaderListMs = 50000;
constexpr int kResetMs = 250;
constexpr int kDeactivateMs = 250;
constexpr int kNoWait = 0;

constexpr int kCapabilityTries = 16;
constexpr int kCapabilityRetryMicros = 500;
constexpr int kResetToLoaderMicros = 50000;  // the board's loader starts after a reset
constexpr int kBeforeDeactivateMicros = 50000;

constexpr uint8_t kActivationMarker = 0xBA;
constexpr uint32_t kDefaultCapabilities[4] = {120000, 80, 1000, 2};
constexpr int kShortCapabilitiesReply = 20;
// The time units are multiplied into milliseconds: a unit of 0 would wait
// for no reply at all, a huge one would overflow the wait.
constexpr uint32_t kMinTimeUnit = 1;
constexpr uint32_t kMaxTimeUnit = 10000;

// The last reply, its checksum taken on trust.
T7734FrameReply SubGBoardReply{};

enum class Gathered { kReply, kIncomplete, kFailed };

// Bytes left from before the request are not its reply.
void DrainPort(GatheringBuffer* rx) {
    for (int i = 0; i < kMaxDrainReads; ++i) {
        if (read(mSerialFD, rx->bytes, sizeof(rx->bytes)) <= 0) return;
    }
}

// Reads until the bytes gathered are one whole reply and the port is quiet.
// Bounded by boundMicros: a reply that never reaches its length (or
// overshoots it) costs the attempt, not an endless gather.
Gathered GatherReply(GatheringBuffer* rx, long long boundMicros) {
    const long long deadline = MonotonicMicros() + boundMicros;
    rx->length = 0;
    for (;;) {
        MicroSecSleep(kGatherPauseMicros);
        const PortRead read = GatherFromPort(mSerialFD, rx);
        if (read == PortRead::kFailed) {
            LogLine(LOG_ERR, "WriteAndWaitForReply: Read failed (%s)", strerror(errno));
            return Gathered::kFailed;
        }
        if (read == PortRead::kFull) {
            LogLine(LOG_ERR, "WriteAndWaitForReply: TotalReadBytes (%d) > MAX_BUFF_SIZE (%d)", rx->length, kLinkBufferSize);
            return Gathered::kFailed;
        }
        if (read == PortRead::kNothing && rx->length > 0 &&
            ReplyFromWire(rx->bytes, rx->length, &SubGBoardReply, ReplyChecksum::kTrusted) == rx->length) {
            return Gathered::kReply;
        }
        if (MonotonicMicros() >= deadline) return Gathered::kIncomplete;
    }
}

// Address and host byte stay as the upgrade set them.
void PrepareRequest(uint8_t opcode, const uint8_t* data = nullptr, size_t n = 0) {
    SubGBoardMsg = MakeRequest(opcode, data, n, SubGBoardMsg.address);
}

void PrepareVersionRequest(uint8_t opcode) {
    uint8_t data[5];
    PutLE32(data, ImageVersion);
    data[4] = kActivationMarker;
    PrepareRequest(opcode, data, sizeof(data));
}

int Exchange(uint8_t opcode, int timeoutMs) {
    PrepareRequest(opcode);
    return WriteAndWaitForReply(timeoutMs);
}

uint32_t Clamp(uint32_t value, uint32_t low, uint32_t high) { return value < low ? low : (value > high ? high : value); }

void UnlinkImage(const char* who) {
    LogLine(LOG_DEBUG, "%s: unlinking %s", who, FW_File_name);
    unlink(FW_File_name);
}

}  // namespace

int WriteAndWaitForReply(int timeoutMs) {
    uint8_t wire[kMaxFrameLen];
    size_t length = RequestToWire(SubGBoardMsg, wire, sizeof(wire));
    const timeval attemptWait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    GatheringBuffer& rx = LinkRxBuffer();
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        DrainPort(&rx);
        ssize_t written = write(mSerialFD, wire, length);
        if (written <= 0) {
            LogLine(LOG_ERR, "WriteAndWaitForReply: writeResult = %d", static_cast<int>(written));
            return 0;
        }
        if (timeoutMs == kNoWait) return 1;
        if (!WaitForData(mSerialFD, attemptWait)) continue;
        Gathered gathered = GatherReply(&rx, timeoutMs * 1000LL);
        if (gathered == Gathered::kFailed) return 0;
        if (gathered == Gathered::kIncomplete) {
            LogLine(LOG_ERR, "WriteAndWaitForReply: reply incomplete after %d ms (%d bytes)", timeoutMs, rx.length);
            continue;
        }
        if (SubGBoardReply.opcode == SubGBoardMsg.opcode) return 1;
        LogLine(LOG_ERR, "WriteAndWaitForReply: Opcodes request %d != reply %d", SubGBoardMsg.opcode,
               SubGBoardReply.opcode);
        MicroSecSleep(kWrongOpcodePauseMicros);
    }
    LogLine(LOG_ERR, "WriteAndWaitForReply: No reply after %d retries", kMaxAttempts);
    return 0;
}

int SendStopOnBootRom() { return Exchange(LoaderOp::StopInBootRom, kStopOnBootRomMs); }

int SendStopOnLoader() { return Exchange(LoaderOp::StopInBootLoader, kStopOnLoaderMs); }

int GetLoaderCapabilities() {
    if (!Exchange(LoaderOp::GetCapabilities, kCapabilitiesMs)) return 0;
    if (SubGBoardReply.opcode != LoaderOp::GetCapabilities) return 0;
    CapabilitiesFromReply(SubGBoardReply, CurrLoaderCapabilities);
    return 1;
}

void CapabilitiesFromReply(const T7734FrameReply& reply, uint32_t capabilities[4]) {
    if (reply.length <= kShortCapabilitiesReply) {
        std::memcpy(capabilities, kDefaultCapabilities, sizeof(kDefaultCapabilities));
        return;
    }
    for (int i = 0; i < 4; ++i) capabilities[i] = GetLE32(reply.data + 4 * i);
    capabilities[2] = Clamp(capabilities[2], kMinTimeUnit, kMaxTimeUnit);
    capabilities[3] = Clamp(capabilities[3], kMinTimeUnit, kMaxTimeUnit);
}

void SetDefaultCapabilities() {
    std::memcpy(CurrLoaderCapabilities, kDefaultCapabilities, sizeof(kDefaultCapabilities));
}

void GetListOfLoaders() {
    if (!Exchange(LoaderOp::GetLoaders, kLoaderListMs)) {
        LogLine(LOG_INFO, "GetListOfLoaders: no reply on loader list");
        return;
    }
    LogLine(LOG_DEBUG, "GetListOfLoaders: Active loader 0x%X", GetLE32(SubGBoardReply.data + 1));
}

void SendReset() {
    Exchange(LoaderOp::Reset, kResetMs);
    HWResetSubGBoard();
}

int ActivateImage() {
    bool application = ImgAction == kInstallApplication;
    if (application) {
        LogLine(LOG_INFO, "ActivateImage: activating application 0x%lx", static_cast<unsigned long>(ImageVersion));
    } else {
        LogLine(LOG_INFO, "ActivateImage: activating bootloader 0x%lx", static_cast<unsigned long>(ImageVersion));
    }
    if (!IsInstallAction(ImgAction) || ImageVersion == 0) return 0;
    PrepareVersionRequest(application ? LoaderOp::ActivateApp : LoaderOp::ActivateLoader);
    return WriteAndWaitForReply(kNoWait);
}

int DectivateImage() {
    if ((ImgAction != kDeactivateApplication && ImgAction != kDeactivateBootLoader) || ImageVersion == 0) return 0;
    PrepareVersionRequest(ImgAction == kDeactivateApplication ? LoaderOp::DeactivateApp : LoaderOp::DeactivateLoader);
    return WriteAndWaitForReply(kDeactivateMs);
}

int WaitForBootRom() {
    HWResetSubGBoard();
    if (!SendStopOnBootRom()) {
        LogLine(LOG_DEBUG, "WaitForBootRom: did not stop on Boot rom");
        return 0;
    }
    // The boot ROM is not asked: it works with the defaults.
    SetDefaultCapabilities();
    if (ImgAction != kDeactivateBootLoader) return 1;
    MicroSecSleep(kBeforeDeactivateMicros);
    if (!DectivateImage()) {
        LogLine(LOG_DEBUG, "WaitForBootRom: failed to deactivate bootloader");
        return 0;
    }
    UnlinkImage("WaitForBootRom");
    return 0;
}

int WaitForBootLoader() {
    HWResetSubGBoard();
    MicroSecSleep(kResetToLoaderMicros);
    if (!SendStopOnLoader()) return 0;
    bool haveCapabilities = false;
    for (int i = 0; i < kCapabilityTries && !haveCapabilities; ++i) {
        haveCapabilities = GetLoaderCapabilities() == 1;
        if (!haveCapabilities) MicroSecSleep(kCapabilityRetryMicros);
    }
    if (haveCapabilities && ImgAction == kInstallApplication) return 1;
    if (ImgAction == kDeactivateApplication || ImgAction == kDeactivateBootLoader) {
        MicroSecSleep(kBeforeDeactivateMicros);
        if (DectivateImage()) {
            UnlinkImage("WaitForBootLoader");
        } else {
            LogLine(LOG_DEBUG, "WaitForBootLoader: failed to deactivate image");
        }
    }
    return 0;
}

int LoaderReplyStatus() { return ReplyDataLen(SubGBoardReply) > 0 ? SubGBoardReply.data[0] : -1; }

const char* LoaderErrorText(int err) {
    static const char* const kTexts[] = {
        "ProcessFWUpgrade: Boot loader replied line send succeed",
        "ProcessFWUpgrade: Boot loader replied wrong major sub unit type",
        "ProcessFWUpgrade: Boot loader replied wrong hex format",
        "ProcessFWUpgrade: Boot loader replied line checksum error",
        "ProcessFWUpgrade: Boot loader replied line line length does not match",
        "ProcessFWUpgrade: Boot loader replied frame error",
        "ProcessFWUpgrade: Boot loader replied can not set image address or version already active",
        "ProcessFWUpgrade: Boot loader replied file length does not match",
        "ProcessFWUpgrade: Boot loader replied file checksum does not match",
        "ProcessFWUpgrade: Boot loader replied failed to read checksum",
        "ProcessFWUpgrade: Boot loader replied wrong device type",
    };
    constexpr int kKnown = static_cast<int>(sizeof(kTexts) / sizeof(kTexts[0]));
    return err >= 0 && err < kKnown ? kTexts[err] : "ProcessFWUpgrade: Boot loader replied with an unknown error";
}

void PrintErrorReason(int err) {
    LogLine(LOG_INFO, "%s", LoaderErrorText(err));
    if (err == LOADER_ADDRESS_OR_ACTIVE) AddSubGRequest(MakeRequest(SubGOp::GetServiceInfo));
}
