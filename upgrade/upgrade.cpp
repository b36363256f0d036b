#include "upgrade/upgrade.h"

#include <pthread.h>
#include "platform/log.h"
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "params/working_params.h"
#include "platform/reset_line.h"
#include "platform/timing.h"
#include "subg/link_buffers.h"
#include "subg/link_loan.h"
#include "subg/opcodes.h"
#include "subg/request_queue.h"
#include "subg/serial_listener.h"
#include "subgconfig/versions.h"
#include "upgrade/boot_loader.h"
#include "upgrade/image_files.h"

namespace {

// About the keep-alive round's pace; the listener lends the port only in
// such a round.
constexpr int kSearchPauseMicros = 6000000;
constexpr int kLinkWaitMicros = 30000000;
constexpr int kTxLockTries = 5000;
constexpr int kTxLockPauseMicros = 1000;
constexpr int kWaitUnitMs = 100;
constexpr int kAfterActivationMicros = 2000000;
constexpr int kAfterResetMicros = 5000000;
// The board restarts, is asked for its versions and asked again every few
// seconds while it does not answer.
constexpr int kActivationCheckMicros = 60000000;

enum class LineRead { kLine, kEnd, kTooLong };
enum class Attempt { kPortNotLent, kDone, kActivated };

char FailedImage[kImageNameSize] = "";
int FailedAttempts = 0;

// One line with its line ending as read, at most kMaxImageLineChars
// characters: a longer one cannot be framed.
LineRead ReadImageLine(FILE* file, char chars[kMaxImageLineChars], size_t* n) {
    *n = 0;
    for (int c = std::getc(file); c != EOF; c = std::getc(file)) {
        if (*n == static_cast<size_t>(kMaxImageLineChars)) return LineRead::kTooLong;
        chars[(*n)++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    return *n > 0 ? LineRead::kLine : LineRead::kEnd;
}

void RejectImage(const char* path) {
    if (!SetImageAside(path, kRejectedImageMark)) {
        LogLine(LOG_ERR, "RejectImage: cannot rename %s (%s)", path, strerror(errno));
    }
}

void DeleteImage() { unlink(FW_File_name); }

int LineWaitMs(bool first) { return kWaitUnitMs * static_cast<int>(CurrLoaderCapabilities[first ? 2 : 3]); }

// A failed line ends the transfer and the image is deleted, so that a bad
// file is not sent again and again.
bool SendLine(int number, const char* chars, size_t n) {
    bool first = number == 0;
    SubGBoardMsg = ImageLineRequest(SubGBoardMsg.address, static_cast<uint16_t>(number), chars, n);
    if (!WriteAndWaitForReply(LineWaitMs(first))) {
        if (first) {
            LogLine(LOG_ERR, "ProcessFWUpgrade: 1st line was not replied");
        } else {
            LogLine(LOG_ERR, "ProcessFWUpgrade: line %d was not replied", number);
        }
        DeleteImage();
        return false;
    }
    int status = LoaderReplyStatus();
    if (status != LOADER_OK) {
        PrintErrorReason(status);
        DeleteImage();
        return false;
    }
    if (first) {
        LogLine(LOG_INFO, "ProcessFWUpgrade: 1st line sent!!!");
        MicroSecSleep(static_cast<int>(CurrLoaderCapabilities[2]));
    } else {
        LogLine(LOG_INFO, "ProcessFWUpgrade: line %d sent", number);
    }
    return true;
}

bool SendLines(FILE* image) {
    char chars[kMaxImageLineChars];
    size_t n = 0;
    for (int number = 0; number < kMaxImageLines; ++number) {
        LineRead read = ReadImageLine(image, chars, &n);
        if (read == LineRead::kEnd && number == 0) {
            LogLine(LOG_ERR, "ProcessFWUpgrade: failed to read 1st line");
            return false;
        }
        if (read == LineRead::kEnd) return true;
        // Checked before the board was touched: the file changed since.
        if (read == LineRead::kTooLong) {
            LogLine(LOG_ERR, "ProcessFWUpgrade: line %d does not fit a frame", number);
            DeleteImage();
            return false;
        }
        if (!SendLine(number, chars, n)) return false;
    }
    LogLine(LOG_ERR, "ProcessFWUpgrade: more than %d lines", kMaxImageLines);
    DeleteImage();
    return false;
}

// True when the activation went out; its success shows in the versions the
// board reports once it runs again.
bool ActivateAndRestart() {
    LogLine(LOG_INFO, "ProcessFWUpgrade: Done sending file!!!");
    const bool activated = ActivateImage() != 0;
    MicroSecSleep(kAfterActivationMicros);
    if (ImgAction == kInstallBootLoader || ImgAction == kDeactivateBootLoader) GetListOfLoaders();
    ImgAction = kNoImageAction;
    HWResetSubGBoard();
    MicroSecSleep(kAfterResetMicros);
    LogLine(LOG_INFO, "ProcessFWUpgrade: Reset sent");
    LogLine(LOG_DEBUG, "ProcessFWUpgrade: unlinking %s", FW_File_name);
    DeleteImage();
    return activated;
}

// Application images go through the boot loader, boot-loader images
// through the boot ROM.
int EnterLoader() {
    bool viaBootLoader = ImgAction == kInstallApplication || ImgAction == kDeactivateApplication;
    SubGBoardMsg.address = viaBootLoader ? kSubGAppAddress : kSubGBootRomAddress;
    return viaBootLoader ? WaitForBootLoader() : WaitForBootRom();
}

// Every way out of the loader restarts the board, so that its application
// runs again whatever happened. True when an image was activated.
bool RunProcedure() {
    if (!EnterLoader()) {
        ImgAction = kNoImageAction;
        SendReset();
        return false;
    }
    LogLine(LOG_INFO, "ProcessFWUpgrade: boot loader is ready!!!");
    FILE* image = std::fopen(FW_File_name, "r");
    if (!image) {
        SendReset();
        return false;
    }
    bool sent = SendLines(image);
    std::fclose(image);
    if (sent) return ActivateAndRestart();
    SendReset();
    return false;
}

// The parser takes no bytes in and no other frame reaches the port while
// the exchange runs; passes of the parser are short.
bool TakeTransmitSlot() {
    for (int i = 0; i < kTxLockTries; ++i) {
        if (pthread_mutex_trylock(&TxMutex) == 0) return true;
        MicroSecSleep(kTxLockPauseMicros);
    }
    return false;
}

// The console may hold the port for minutes uploading tag firmware: the
// image then waits for a later round, which is no failed attempt.
Attempt RunWithBorrowedLink() {
    bool lent = BorrowSerialLink(kLinkWaitMicros);
    if (lent && !TakeTransmitSlot()) {
        ReturnSerialLink();
        lent = false;
    }
    if (!lent) {
        LogLine(LOG_INFO, "SubGUpgradeTh: the serial link was not free, %s waits", FW_File_name);
        return Attempt::kPortNotLent;
    }
    const bool activated = ProcessFWUpgrade(SerialFd);
    pthread_mutex_unlock(&TxMutex);
    ReturnSerialLink();
    return activated ? Attempt::kActivated : Attempt::kDone;
}

// An image that keeps failing (a board that never reaches its loader, a
// file that cannot be read) would cost a board reset and a blocked link
// every round for ever.
void CountFailedAttempt() {
    if (std::strcmp(FailedImage, FW_File_name) != 0) {
        std::snprintf(FailedImage, sizeof(FailedImage), "%s", FW_File_name);
        FailedAttempts = 0;
    }
    if (++FailedAttempts < kMaxFailedAttempts) return;
    LogLine(LOG_ERR, "CountFailedAttempt: %s failed %d times, renamed to %s%s", FW_File_name, FailedAttempts,
           kFailedImageMark, FW_File_name);
    if (!SetImageAside(FW_File_name, kFailedImageMark)) {
        LogLine(LOG_ERR, "CountFailedAttempt: cannot rename %s (%s)", FW_File_name, strerror(errno));
    }
    FailedImage[0] = '\0';
    FailedAttempts = 0;
}

void UpgradeFromImage() {
    ImageCheck check = IsInstallAction(ImgAction) ? CheckImageLines(FW_File_name) : ImageCheck::kGood;
    if (check != ImageCheck::kGood && check != ImageCheck::kUnreadable) {
        RejectImage(FW_File_name);
        return;
    }
    const int action = ImgAction;
    const uint32_t version = ImageVersion;
    const uint64_t recordsBefore = SnapshotSubGBoardGVT().stored;
    const Attempt attempt = check == ImageCheck::kGood ? RunWithBorrowedLink() : Attempt::kDone;
    if (attempt == Attempt::kPortNotLent) return;
    if (access(FW_File_name, F_OK) == 0) {
        CountFailedAttempt();
    } else {
        FailedImage[0] = '\0';
    }
    // The board answers only once the link is back with the listener.
    if (attempt == Attempt::kActivated) ConfirmActivation(action, version, recordsBefore, kActivationCheckMicros);
}

uint32_t RunningVersion(int action, const SubGBoardGVTSnapshot& gvt) {
    return action == kInstallBootLoader ? gvt.BootLoaderVersion() : gvt.ApplicationVersion();
}

}  // namespace

ImageCheck CheckImageLines(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (!file) {
        LogLine(LOG_ERR, "CheckImageLines: cannot open %s (%s)", path, strerror(errno));
        return ImageCheck::kUnreadable;
    }
    char chars[kMaxImageLineChars];
    size_t n = 0;
    int lines = 0;
    LineRead read = LineRead::kLine;
    while (lines <= kMaxImageLines && (read = ReadImageLine(file, chars, &n)) == LineRead::kLine) ++lines;
    std::fclose(file);
    if (read == LineRead::kTooLong) {
        LogLine(LOG_ERR, "CheckImageLines: line %d of %s is longer than %d characters, renamed to %s%s", lines, path,
               kMaxImageLineChars, kRejectedImageMark, path);
        return ImageCheck::kLineTooLong;
    }
    if (lines > kMaxImageLines) {
        LogLine(LOG_ERR, "CheckImageLines: %s has more than %d lines, renamed to %s%s", path, kMaxImageLines,
               kRejectedImageMark, path);
        return ImageCheck::kTooManyLines;
    }
    if (lines == 0) {
        LogLine(LOG_ERR, "CheckImageLines: %s has no line, renamed to %s%s", path, kRejectedImageMark, path);
        return ImageCheck::kEmpty;
    }
    return ImageCheck::kGood;
}

bool ProcessFWUpgrade(int serialFd) {
    mSerialFD = serialFd;
    SubGBoardMsg = MakeRequest(0);
    uint32_t version = CurrentSubGAppVersion();
    LogLine(LOG_INFO, "ProcessFWUpgrade: SubG upgrade file found, starting process (image action = %d, SubGVersion = %d)!!!",
           ImgAction, static_cast<int>(version));
    if (IsOldBoardSoftware(version)) {
        LogLine(LOG_INFO, "ProcessFWUpgrade: SubGBoard Has no boot loader (SubGVersion = %d", static_cast<int>(version));
        DeleteImage();
        UpdateOldSubGGVT(version);
        return false;
    }
    GVTUpdated = 0;
    const bool activated = RunProcedure();
    // Whatever the outcome, the board's versions are read again; parameter
    // reports wait for them.
    AddSubGRequest(MakeRequest(SubGOp::GetServiceInfo));
    return activated;
}

bool ConfirmActivation(int action, uint32_t imageVersion, uint64_t recordsBefore, int waitMicros) {
    const long long deadline = MonotonicMicros() + waitMicros;
    SubGBoardGVTSnapshot gvt{};
    bool reported = false;
    for (long long left = waitMicros; left > 0; left = deadline - MonotonicMicros()) {
        if (!WaitForSubGBoardGVT(recordsBefore, static_cast<int>(left), &gvt)) break;
        reported = true;
        recordsBefore = gvt.stored;
        if (RunningVersion(action, gvt) == imageVersion) {
            LogLine(LOG_INFO, "ProcessFWUpgrade: Image activated!!! (ImgAction = %d)", action);
            return true;
        }
    }
    if (reported) {
        LogLine(LOG_ERR, "ProcessFWUpgrade: the board runs version 0x%X, not the activated 0x%X (ImgAction = %d)",
               RunningVersion(action, gvt), imageVersion, action);
    } else {
        LogLine(LOG_ERR, "ProcessFWUpgrade: the board reported no versions after activating 0x%X (ImgAction = %d)",
               imageVersion, action);
    }
    return false;
}

void UpgradeRound() {
    if (CheckForUpdateFile()) UpgradeFromImage();
}

void* SubGUpgradeTh(void*) {
    for (;;) {
        MicroSecSleep(kSearchPauseMicros);
        UpgradeRound();
    }
    return nullptr;
}
