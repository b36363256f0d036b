#include "params/working_params.h"

#include <sys/stat.h>
#include "platform/log.h"
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>

#include "platform/byte_order.h"
#include "platform/atomic_file.h"

std::atomic<float> Radio1Freq{0.0f};
std::atomic<float> Radio2Freq{0.0f};
std::atomic<int> ChannArrayLen{0};
std::atomic<uint8_t> ParamsUpdated{0};

namespace {

// The record is this module's alone: others get copies through
// SnapshotWorkingParams and change it through the setters. Changed only
// under WorkingParamMutex. It is the innermost lock of the daemon: nothing
// else is taken while it is held, and no function of this module is called
// with it held.
WorkingParamsSt WorkingParams{};
std::mutex WorkingParamMutex;

static_assert(sizeof(float) == 4 && std::numeric_limits<float>::is_iec559,
              "frequencies are stored as IEEE 754 single precision");

// The stored record, field by field.
enum class Field {
    Reserved1, SubGAppVersion, UserSpaceAppVersion, WorkingChann, RadioFreq, DiagInterval,
    BITInterval, Reserved2, ChannScanInterval, RFRegion, KeepAlive, SiteID, FreqChDelay,
    SteadyStateInterval, ChanArrayLen, CRC, Count
};

struct FieldSpan {
    size_t offset;
    size_t width;
};

constexpr FieldSpan kLayout[static_cast<size_t>(Field::Count)] = {
    {0, 4},  {4, 4},  {8, 4},   {12, 4},  {16, 4},  {20, 4},  {24, 4},  {28, 64},
    {92, 4}, {96, 4}, {100, 4}, {104, 4}, {108, 4}, {112, 4}, {116, 1}, {117, 1},
};

constexpr FieldSpan Span(Field f) {
    return kLayout[static_cast<size_t>(f)];
}

constexpr bool LayoutIsContiguous() {
    size_t next = 0;
    for (const FieldSpan& f : kLayout) {
        if (f.offset != next) return false;
        next += f.width;
    }
    return next == kWorkingParamsSize;
}
static_assert(LayoutIsContiguous(), "the fields follow each other and fill 118 bytes");
static_assert(Span(Field::CRC).offset == kWorkingParamsSize - 1, "the checksum is the last byte");
static_assert(sizeof(WorkingParamsSt::Reserved1) == Span(Field::Reserved1).width, "Reserved1 width");
static_assert(sizeof(WorkingParamsSt::Reserved2) == Span(Field::Reserved2).width, "Reserved2 width");

constexpr size_t kChecksummed = Span(Field::CRC).offset;
constexpr size_t kFreqSize = 4;
static_assert(kFreqSize == sizeof(float), "a table entry is one float");
constexpr size_t kMaxFileSize = kWorkingParamsSize + kFreqSize * 255;
constexpr char kTmpFilName[] = "./ParamFiles.txt.tmp";

// The one stream on the parameters file while it is read; only used under
// ParamFileMutex, null outside a load.
FILE* ParamFileFD = nullptr;
// Keeps saves and loads from overlapping; taken before WorkingParamMutex.
std::mutex ParamFileMutex;

std::vector<float> ChanArray;  // under WorkingParamMutex
std::atomic<bool> ParamsLoaded{false};
std::atomic<void (*)()> SaveHook{nullptr};

uint32_t FloatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

float BitsFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

template <Field F>
void PutU32(uint8_t* out, uint32_t v) {
    static_assert(Span(F).width == 4, "a 32-bit field");
    PutLE32(out + Span(F).offset, v);
}

template <Field F>
uint32_t GetU32(const uint8_t* in) {
    static_assert(Span(F).width == 4, "a 32-bit field");
    return GetLE32(in + Span(F).offset);
}

template <Field F>
void PutI32(uint8_t* out, int32_t v) {
    PutU32<F>(out, static_cast<uint32_t>(v));
}

template <Field F>
int32_t GetI32(const uint8_t* in) {
    return static_cast<int32_t>(GetU32<F>(in));
}

uint8_t RecordChecksum(const uint8_t* record) {
    uint8_t x = 0;
    for (size_t i = 0; i < kChecksummed; ++i) x ^= record[i];
    return x;
}

// Entries that both the record counts and memory holds; 0 means no table.
int TableLen() {
    return static_cast<int>(std::min<size_t>(WorkingParams.ChanArrayLen, ChanArray.size()));
}

FILE* OpenParamFile() {
    ParamFileFD = fopen(ParamFilName, "r");
    if (ParamFileFD == nullptr) {
        LogLine(LOG_ERR, "OpenParamFile: failed to open %s (%s)", ParamFilName, strerror(errno));
    } else {
        LogLine(LOG_DEBUG, "OpenParamFile: opened file %s", ParamFilName);
    }
    return ParamFileFD;
}

// The whole file as it is to be written; stores the new checksum in memory.
std::vector<uint8_t> TakeFileImage() {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    std::vector<uint8_t> image(kWorkingParamsSize);
    EncodeWorkingParams(WorkingParams, image.data());
    WorkingParams.CRC = image[kChecksummed] = RecordChecksum(image.data());
    for (int i = 0; i < TableLen(); ++i) {
        image.resize(image.size() + kFreqSize);
        PutLE32(&image[image.size() - kFreqSize], FloatBits(ChanArray[i]));
    }
    return image;
}

// The record and the table, taken when the new file is open.
bool WriteFileImage(FILE* file) {
    LogLine(LOG_DEBUG, "OpenParamFile: opened file %s", kTmpFilName);
    const std::vector<uint8_t> image = TakeFileImage();
    return fwrite(image.data(), 1, image.size(), file) == image.size();
}

void CallSaveHook(const char* path) {
    void (*hook)() = SaveHook.load();
    if (hook != nullptr && strcmp(path, ParamFilName) == 0) hook();
}

template <typename Change>
void ChangeAndSave(Change change) {
    {
        std::lock_guard<std::mutex> lock(WorkingParamMutex);
        change();
    }
    BackupParams();
    ParamsUpdated = 1;
}

void SetAllFreqs(float mhz) {
    WorkingParams.RadioFreq = mhz;
    Radio1Freq = mhz;
    Radio2Freq = mhz;
}

// The table's frequency for a channel, when the table has that channel.
bool ChannelFreq(const char* caller, int32_t channel, float* mhz) {
    if (channel >= 0 && channel < TableLen()) {
        *mhz = ChanArray[static_cast<size_t>(channel)];
        return true;
    }
    LogLine(LOG_ERR, "%s: channel %d outside the table of %d channels, frequency kept", caller,
           channel, TableLen());
    return false;
}

// The whole file, or false when it is missing or cannot be opened.
bool ReadParamFile(std::vector<uint8_t>* image) {
    struct stat st;
    if (stat(ParamFilName, &st) != 0) {
        LogLine(LOG_INFO, "File %s does not exist!! (%s)\n", ParamFilName, strerror(errno));
        return false;
    }
    std::lock_guard<std::mutex> loading(ParamFileMutex);
    if (OpenParamFile() == nullptr) return false;
    image->resize(kMaxFileSize);
    image->resize(fread(image->data(), 1, image->size(), ParamFileFD));
    fclose(ParamFileFD);
    ParamFileFD = nullptr;
    return true;
}

// The record of a file that holds at least one whole, intact record.
bool CheckRecord(const std::vector<uint8_t>& image, WorkingParamsSt* record) {
    if (image.empty()) {
        LogLine(LOG_ERR, "LoadParams: %s is empty, using defaults", ParamFilName);
        return false;
    }
    if (image.size() < kWorkingParamsSize) {
        LogLine(LOG_ERR, "LoadParams: %s holds %d bytes, less than a record, using defaults",
               ParamFilName, static_cast<int>(image.size()));
        return false;
    }
    DecodeWorkingParams(image.data(), record);
    const uint8_t calculated = RecordChecksum(image.data());
    if (calculated == record->CRC) return true;
    LogLine(LOG_ERR, "LoadParams: %s fails its checksum (calculated %x, stored %x), using defaults", ParamFilName,
           calculated, record->CRC);
    return false;
}

// The defaults are about to be saved over the site's settings: the bytes
// stay beside them for a technician. Only the latest refused file is kept.
void KeepRefusedParamFile(const std::vector<uint8_t>& image) {
    if (image.empty()) return;
    if (WriteFileAtomically(RefusedParamFilName, image.data(), image.size())) {
        LogLine(LOG_INFO, "LoadParams: the refused %s is kept as %s", ParamFilName, RefusedParamFilName);
    } else {
        LogLine(LOG_ERR, "LoadParams: failed to keep the refused %s as %s (%s)", ParamFilName, RefusedParamFilName,
               strerror(errno));
    }
}

// The entries of the table that the file holds in full.
std::vector<float> ReadTable(const std::vector<uint8_t>& image, WorkingParamsSt* record) {
    size_t stored = (image.size() - kWorkingParamsSize) / kFreqSize;
    size_t count = std::min<size_t>(record->ChanArrayLen, stored);
    if (count < record->ChanArrayLen) {
        LogLine(LOG_ERR, "LoadParams: channel table holds %d of %d entries", static_cast<int>(count),
               record->ChanArrayLen);
        record->ChanArrayLen = static_cast<uint8_t>(count);
    }
    std::vector<float> table(count);
    for (size_t i = 0; i < count; ++i) {
        table[i] = BitsFloat(GetLE32(&image[kWorkingParamsSize + kFreqSize * i]));
    }
    return table;
}

void LogLoaded(const WorkingParamsSt& p, uint8_t calcedCRC, const std::vector<float>& table) {
    LogLine(LOG_DEBUG, "WorkingParams.SteadyStateInterval = %d",
           static_cast<int>(p.SteadyStateInterval));
    LogLine(LOG_DEBUG, "LoadParams: user_space_application_version = %d",
           static_cast<int>(p.UserSpaceAppVersion));
    LogLine(LOG_DEBUG, "LoadParams: RF_region %d, Working channel %d, Freq %.3f", p.RFRegion,
           p.WorkingChann, p.RadioFreq);
    LogLine(LOG_DEBUG, "LoadParams: Calced CRC %x, file CRC %x", calcedCRC, p.CRC);
    for (size_t i = 0; i < table.size(); ++i) {
        LogLine(LOG_DEBUG, "LoadParams: loaded chann %d: %.3f", static_cast<int>(i), table[i]);
    }
}

// Puts an intact file's record and table in place; false when the file
// cannot be trusted. A SubG board version learnt before the load wins over
// the stored one and is saved at once.
bool AdoptParamFile(const std::vector<uint8_t>& image) {
    WorkingParamsSt record;
    if (!CheckRecord(image, &record)) {
        KeepRefusedParamFile(image);
        return false;
    }
    std::vector<float> table = ReadTable(image, &record);
    record.UserSpaceAppVersion = kUserSpaceAppVersion;
    uint32_t knownVersion;
    {
        std::lock_guard<std::mutex> lock(WorkingParamMutex);
        knownVersion = WorkingParams.SubGAppVersion;
        if (knownVersion != 0) record.SubGAppVersion = knownVersion;
        WorkingParams = record;
        SetAllFreqs(record.RadioFreq);
        ChannArrayLen = record.ChanArrayLen;
        if (!table.empty()) ChanArray = table;
    }
    LogLoaded(record, RecordChecksum(image.data()), table);
    if (knownVersion != 0) BackupParams();
    return true;
}

}  // namespace

void EncodeWorkingParams(const WorkingParamsSt& p, uint8_t out[kWorkingParamsSize]) {
    std::memcpy(out + Span(Field::Reserved1).offset, p.Reserved1, sizeof p.Reserved1);
    PutU32<Field::SubGAppVersion>(out, p.SubGAppVersion);
    PutU32<Field::UserSpaceAppVersion>(out, p.UserSpaceAppVersion);
    PutI32<Field::WorkingChann>(out, p.WorkingChann);
    PutU32<Field::RadioFreq>(out, FloatBits(p.RadioFreq));
    PutI32<Field::DiagInterval>(out, p.DiagInterval);
    PutI32<Field::BITInterval>(out, p.BITInterval);
    std::memcpy(out + Span(Field::Reserved2).offset, p.Reserved2, sizeof p.Reserved2);
    PutI32<Field::ChannScanInterval>(out, p.ChannScanInterval);
    PutI32<Field::RFRegion>(out, p.RFRegion);
    PutI32<Field::KeepAlive>(out, p.KeepAlive);
    PutI32<Field::SiteID>(out, p.SiteID);
    PutI32<Field::FreqChDelay>(out, p.FreqChDelay);
    PutU32<Field::SteadyStateInterval>(out, p.SteadyStateInterval);
    out[Span(Field::ChanArrayLen).offset] = p.ChanArrayLen;
    out[Span(Field::CRC).offset] = p.CRC;
}

void DecodeWorkingParams(const uint8_t in[kWorkingParamsSize], WorkingParamsSt* p) {
    std::memcpy(p->Reserved1, in + Span(Field::Reserved1).offset, sizeof p->Reserved1);
    p->SubGAppVersion = GetU32<Field::SubGAppVersion>(in);
    p->UserSpaceAppVersion = GetU32<Field::UserSpaceAppVersion>(in);
    p->WorkingChann = GetI32<Field::WorkingChann>(in);
    p->RadioFreq = BitsFloat(GetU32<Field::RadioFreq>(in));
    p->DiagInterval = GetI32<Field::DiagInterval>(in);
    p->BITInterval = GetI32<Field::BITInterval>(in);
    std::memcpy(p->Reserved2, in + Span(Field::Reserved2).offset, sizeof p->Reserved2);
    p->ChannScanInterval = GetI32<Field::ChannScanInterval>(in);
    p->RFRegion = GetI32<Field::RFRegion>(in);
    p->KeepAlive = GetI32<Field::KeepAlive>(in);
    p->SiteID = GetI32<Field::SiteID>(in);
    p->FreqChDelay = GetI32<Field::FreqChDelay>(in);
    p->SteadyStateInterval = GetU32<Field::SteadyStateInterval>(in);
    p->ChanArrayLen = in[Span(Field::ChanArrayLen).offset];
    p->CRC = in[Span(Field::CRC).offset];
}

uint8_t CalcParamCRC() {
    uint8_t record[kWorkingParamsSize];
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    EncodeWorkingParams(WorkingParams, record);
    return RecordChecksum(record);
}

void BackupParams() {
    std::lock_guard<std::mutex> saving(ParamFileMutex);
    if (!WriteFileAtomically(ParamFilName, WriteFileImage)) {
        LogLine(LOG_ERR, "BackupParams: failed to replace %s (%s)", ParamFilName, strerror(errno));
    }
}

// The radios follow RadioFreq here as after a load, so that a fresh reader
// never "corrects" its radios to 0 MHz.
void InitDefaultParams() {
    ChangeAndSave([] {
        WorkingParams.FreqChDelay = 0;
        WorkingParams.RFRegion = 0;
        WorkingParams.WorkingChann = 0;
        WorkingParams.ChanArrayLen = 0;
        WorkingParams.KeepAlive = 3;
        WorkingParams.UserSpaceAppVersion = kUserSpaceAppVersion;
        WorkingParams.SteadyStateInterval = 300;
        WorkingParams.ChannScanInterval = 60;
        WorkingParams.DiagInterval = 60;
        WorkingParams.BITInterval = 24;
        SetAllFreqs(907.0f);
    });
}

void LoadParams() {
    std::vector<uint8_t> image;
    if (!ReadParamFile(&image) || !AdoptParamFile(image)) InitDefaultParams();
    ParamsUpdated = 1;
    ParamsLoaded = true;
}

bool WorkingParamsLoaded() {
    return ParamsLoaded;
}

void SetDiagInterval(int32_t minutes) {
    ChangeAndSave([minutes] { WorkingParams.DiagInterval = minutes; });
}

void SetChannArray() {
    ChangeAndSave([] { WorkingParams.ChanArrayLen = static_cast<uint8_t>(ChannArrayLen.load()); });
}

void SetWorkingChann(int32_t channel) {
    ChangeAndSave([channel] {
        WorkingParams.WorkingChann = channel;
        float mhz;
        if (TableLen() == 0 || !ChannelFreq("SetWorkingChann", channel, &mhz)) return;
        SetAllFreqs(mhz);
        LogLine(LOG_DEBUG, "SetWorkingChann: Radio1Freq = %.3f, Radio2Freq = %.3f",
               Radio1Freq.load(), Radio2Freq.load());
    });
}

void SetRadioFreq(float mhz) {
    ChangeAndSave([mhz] { SetAllFreqs(mhz); });
}

// Reader parameters from the RTC never carry the tags' steady-state
// interval, so the current one stays.
void CopyReaderParam(WorkingParamsSt params) {
    ChangeAndSave([&params] {
        const float previousFreq = WorkingParams.RadioFreq;
        params.SteadyStateInterval = WorkingParams.SteadyStateInterval;
        WorkingParams = params;
        LogLine(LOG_DEBUG, "CopyReaderParam: ChanArrayLen = %d", WorkingParams.ChanArrayLen);
        if (TableLen() == 0) {
            SetAllFreqs(WorkingParams.RadioFreq);
            return;
        }
        float mhz;
        if (!ChannelFreq("CopyReaderParam", WorkingParams.WorkingChann, &mhz)) {
            WorkingParams.RadioFreq = previousFreq;
            return;
        }
        LogLine(LOG_DEBUG, "CopyReaderParam: setting freq to %.3f, according to channel %d", mhz,
               WorkingParams.WorkingChann);
        SetAllFreqs(mhz);
    });
}

void SetKeepAlive(int32_t seconds) {
    if (seconds == -1) {
        SetKeepAliveUnsaved(seconds);
        return;
    }
    ChangeAndSave([seconds] { WorkingParams.KeepAlive = seconds; });
}

void SetKeepAliveUnsaved(int32_t seconds) {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    WorkingParams.KeepAlive = seconds;
}

void SetSiteID(int32_t siteId) {
    ChangeAndSave([siteId] { WorkingParams.SiteID = siteId; });
}

void SetFreqChDelay(int32_t minutes) {
    ChangeAndSave([minutes] { WorkingParams.FreqChDelay = minutes; });
}

void SetSteadyStateIntervalProc(int32_t seconds) {
    ChangeAndSave([seconds] {
        WorkingParams.SteadyStateInterval = static_cast<uint32_t>(seconds);
        LogLine(LOG_DEBUG, "SetSteadyStateIntervalProc: Setting WorkingParams.SteadyStateInterval to %d",
               seconds);
    });
}

int32_t GetVersion() {
    return kUserSpaceAppVersion;
}

WorkingParamsSt SnapshotWorkingParams() {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    return WorkingParams;
}

std::vector<float> SnapshotChanArray() {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    return std::vector<float>(ChanArray.begin(), ChanArray.begin() + TableLen());
}

void ReplaceChanArray(std::vector<float> freqs) {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    ChanArray = std::move(freqs);
}

void ReplaceChanTable(std::vector<float> freqs) {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    WorkingParams.ChanArrayLen = static_cast<uint8_t>(std::min<size_t>(freqs.size(), UINT8_MAX));
    ChannArrayLen = WorkingParams.ChanArrayLen;
    ChanArray = std::move(freqs);
}

void SetParamSaveHook(void (*hook)()) {
    SaveHook = hook;
    SetAtomicWriteHook(hook != nullptr ? CallSaveHook : nullptr);
}

void SetSubGAppVersion(uint32_t version) {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    WorkingParams.SubGAppVersion = version;
}

uint32_t CurrentSubGAppVersion() {
    std::lock_guard<std::mutex> lock(WorkingParamMutex);
    return WorkingParams.SubGAppVersion;
}
