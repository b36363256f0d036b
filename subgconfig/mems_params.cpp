#include "subgconfig/mems_params.h"

#include <sys/stat.h>
#include "platform/log.h"
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/byte_order.h"
#include "platform/paths.h"
#include "platform/text_line.h"
#include "subg/frame.h"
#include "subg/opcodes.h"
#include "subgconfig/housekeeping.h"
#include "subg/request_queue.h"

std::atomic<uint8_t> CollectMEMS{0};
std::atomic<uint8_t> MinNumOfAccelExceptions{kNoMinNumOfAccelExceptions};
std::atomic<uint16_t> StepRecogTimeout{kNoStepRecogTimeout};

namespace {

constexpr size_t kMaxLineLength = 15;  // line break included
constexpr uint8_t kLogPrintsLast = 33;  // the throttle counts 0 to this, then wraps
constexpr const char* kCollectWord = "collect";

char LastMEMSContent[kMaxLineLength + 1];
// Throttles this module's log lines: most are written when it is 0.
uint8_t MEMS_LogPrintsCounter = 0;

std::string MEMSParamPath() { return std::string(LogDir) + "/" + kMEMSParamFileName; }

// A whole decimal number within the range of a long; blanks around it allowed.
bool ReadDecimal(const std::string& text, long* out) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(start, &end, 10);
    if (end == start || errno == ERANGE) return false;
    while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (*end != '\0') return false;
    *out = value;
    return true;
}

void ForgetFile() {
    LastMEMSContent[0] = '\0';
    CollectMEMS = 0;
}

// What the main thread last found of the file; the listener's MEMS duty
// works from it and so never waits on the storage.
// Unusable: an over-long or damaged first line.
enum class FileState { Missing, Unreadable, Empty, Unusable, HasLine };
struct MEMSFileSnapshot {
    FileState state = FileState::Missing;
    char line[kMaxLineLength + 1] = {};  // without its line break
};
std::mutex MEMSFileMutex;
MEMSFileSnapshot LatestMEMSFile;  // under MEMSFileMutex

MEMSFileSnapshot ReadMEMSFile(const std::string& path, FileState previous) {
    MEMSFileSnapshot found;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return found;
    FILE* fp = std::fopen(path.c_str(), "r");
    if (!fp) {
        if (previous != FileState::Unreadable)
            LogLine(LOG_DEBUG, "NeedToChangeMEMSParam: Failed to open %s", path.c_str());
        found.state = FileState::Unreadable;
        return found;
    }
    std::string line;
    const TextLine read = ReadTextLine(fp, kMaxLineLength, &line);
    std::fclose(fp);
    // A NUL byte marks a block the file system zero-filled after a power
    // cut: the line is damaged, like an over-long one it gives nothing.
    if (read == TextLine::TooLong || HasNulByte(line)) {
        found.state = FileState::Unusable;
        return found;
    }
    if (read == TextLine::Read) {
        found.state = FileState::HasLine;
        std::snprintf(found.line, sizeof(found.line), "%s", line.c_str());
        return found;
    }
    LogLine(LOG_DEBUG, "NeedToChangeMEMSParam: file is empty, stop collecting parameters values from tags");
    unlink(path.c_str());
    found.state = FileState::Empty;
    return found;
}

// A new line restarts the cycle with collecting.
void NoteLine(const char* line) {
    if (std::strcmp(line, LastMEMSContent) == 0) return;
    std::strcpy(LastMEMSContent, line);
    MEMS_LogPrintsCounter = 0;
    CollectMEMS = 1;
    // New parameters go out at the next silence, not an hour later.
    ExpireMEMSStateTimer();
}

void ApplyLine(const char* line) {
    MEMSLineRequest request = ParseMEMSLine(line);
    if (request.collect) {
        CollectMEMS = 1;
        if (MEMS_LogPrintsCounter == 0) {
            LogLine(LOG_INFO, "NeedToChangeMEMSParam: only collecting MEMS filter parameters from tags");
        }
        return;
    }
    StepRecogTimeout = request.stepRecogTimeout;
    MinNumOfAccelExceptions = request.minNumOfAccelExceptions;
    if (request.parts > 0 && MEMS_LogPrintsCounter == 0) {
        LogLine(LOG_INFO, "NeedToChangeMEMSParam: StepRecogTimeout = %d,  MinNumOfAccelExceptions = %d",
               request.stepRecogTimeout, request.minNumOfAccelExceptions);
    }
}

void Queue(uint8_t opcode, const uint8_t* data = nullptr, size_t dataLen = 0) {
    AddSubGRequest(MakeRequest(opcode, data, dataLen));
}

void QueueCollect() {
    if (MEMS_LogPrintsCounter == 0) LogLine(LOG_INFO, "SerialListener: Collecting MEMS filter params");
    Queue(SubGOp::StopSetMEMSParams);
    Queue(SubGOp::StartCollectMEMS);
}

// Data in the order the tags report their calculation: minimum acceleration
// exceptions, step recognition time slot, then three values the reader
// leaves at 0.
void QueueSetParams(uint8_t minAccel, uint16_t stepRecog) {
    if (MEMS_LogPrintsCounter == 0) {
        LogLine(LOG_INFO,
               "SerialListener: requesting StartSetMemsParam MinNumOfAccelExceptions = %d, StepRecogTimeout = %d",
               minAccel, stepRecog);
    }
    uint8_t data[] = {minAccel, 0, 0, 0, 0, 0};
    PutLE16(data + 1, stepRecog);
    Queue(SubGOp::StopCollectMEMS);
    Queue(SubGOp::SetMEMSParams, data, sizeof(data));
}

}  // namespace

bool MEMSParamsGiven() {
    return MinNumOfAccelExceptions != kNoMinNumOfAccelExceptions || StepRecogTimeout != kNoStepRecogTimeout;
}

MEMSLineRequest ParseMEMSLine(const char* line) {
    MEMSLineRequest request{std::strstr(line, kCollectWord) != nullptr, 0, kNoStepRecogTimeout,
                            kNoMinNumOfAccelExceptions};
    if (request.collect) return request;
    // Parts as strtok sees them: empty ones do not count.
    std::string parts[2];
    std::string text(line);
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        size_t end = comma == std::string::npos ? text.size() : comma;
        if (end > start) {
            if (request.parts < 2) parts[request.parts] = text.substr(start, end - start);
            ++request.parts;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    long value = 0;
    if (request.parts != 2 || !ReadDecimal(parts[0], &value)) return request;
    request.stepRecogTimeout = static_cast<uint16_t>(value);
    if (ReadDecimal(parts[1], &value)) request.minNumOfAccelExceptions = static_cast<uint8_t>(value);
    return request;
}

void RefreshMEMSParamFile() {
    FileState previous;
    {
        std::lock_guard<std::mutex> lock(MEMSFileMutex);
        previous = LatestMEMSFile.state;
    }
    const MEMSFileSnapshot found = ReadMEMSFile(MEMSParamPath(), previous);
    std::lock_guard<std::mutex> lock(MEMSFileMutex);
    // An empty file is gone once read: keep saying so until the duty saw it.
    if (found.state == FileState::Missing && LatestMEMSFile.state == FileState::Empty) return;
    LatestMEMSFile = found;
}

void NeedToChangeMEMSParam() {
    StepRecogTimeout = kNoStepRecogTimeout;
    MinNumOfAccelExceptions = kNoMinNumOfAccelExceptions;
    MEMSFileSnapshot file;
    {
        std::lock_guard<std::mutex> lock(MEMSFileMutex);
        file = LatestMEMSFile;
        if (file.state == FileState::Empty) LatestMEMSFile.state = FileState::Missing;
    }
    if (file.state == FileState::Missing) {
        ForgetFile();
        MEMS_LogPrintsCounter = 0;
        return;
    }
    if (MEMS_LogPrintsCounter == 0) LogLine(LOG_INFO, "NeedToChangeMEMSParam: Found file %s", MEMSParamPath().c_str());
    if (file.state == FileState::Empty) ForgetFile();
    if (file.state != FileState::HasLine) return;
    NoteLine(file.line);
    ApplyLine(file.line);
}

void UpdateMEMSFiletrParams() {
    MEMS_LogPrintsCounter = MEMS_LogPrintsCounter >= kLogPrintsLast ? 0 : MEMS_LogPrintsCounter + 1;
    uint8_t minAccel = MinNumOfAccelExceptions;
    uint16_t stepRecog = StepRecogTimeout;
    bool params = MEMSParamsGiven();
    if (params && MEMS_LogPrintsCounter == 0) {
        LogLine(LOG_DEBUG, "SerialListener: MinNumOfAccelExceptions = %d, StepRecogTimeout = %d, CollectMEMS = %d",
               minAccel, stepRecog, CollectMEMS.load());
    }
    if (CollectMEMS == 1) {
        QueueCollect();
    } else if (params) {
        QueueSetParams(minAccel, stepRecog);
    } else {
        Queue(SubGOp::StopCollectMEMS);
        Queue(SubGOp::StopSetMEMSParams);
    }
}
