#include "params/working_params.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kTmpName[] = "./ParamFiles.txt.tmp";

// The record of a fresh reader, as stored.
const Bytes kDefaultRecord = {
    0x00, 0x00, 0x00, 0x00,  // Reserved1
    0x00, 0x00, 0x00, 0x00,  // SubGAppVersion
    0x1C, 0xA6, 0x10, 0x00,  // UserSpaceAppVersion 1091100
    0x00, 0x00, 0x00, 0x00,  // WorkingChann 0
    0x00, 0xC0, 0x62, 0x44,  // RadioFreq 907.0
    0x3C, 0x00, 0x00, 0x00,  // DiagInterval 60
    0x18, 0x00, 0x00, 0x00,  // BITInterval 24
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x3C, 0x00, 0x00, 0x00,  // ChannScanInterval 60
    0x00, 0x00, 0x00, 0x00,  // RFRegion USA
    0x03, 0x00, 0x00, 0x00,  // KeepAlive 3
    0x00, 0x00, 0x00, 0x00,  // SiteID
    0x00, 0x00, 0x00, 0x00,  // FreqChDelay 0
    0x2C, 0x01, 0x00, 0x00,  // SteadyStateInterval 300
    0x00,                    // ChanArrayLen
    0x7A,                    // CRC
};

Bytes ReadBytes(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const char* name, const Bytes& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool Exists(const char* name) {
    struct stat st;
    return stat(name, &st) == 0;
}

uint8_t Xor117(const Bytes& file) {
    uint8_t x = 0;
    for (size_t i = 0; i < 117; ++i) x ^= file[i];
    return x;
}

uint32_t Le32(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
           static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

float LeFloat(const Bytes& b, size_t at) {
    uint32_t bits = Le32(b, at);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void AppendLeFloat(Bytes* b, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    for (int i = 0; i < 4; ++i) b->push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

// A stored record, intact, with its table behind it.
Bytes StoredFile(const WorkingParamsSt& record, const std::vector<float>& table) {
    Bytes file(kWorkingParamsSize);
    EncodeWorkingParams(record, file.data());
    file[117] = Xor117(file);
    for (float f : table) AppendLeFloat(&file, f);
    return file;
}

// The record of the file on disk; fails the test when its checksum is wrong.
WorkingParamsSt StoredRecord() {
    Bytes file = ReadBytes(ParamFilName);
    WorkingParamsSt record{};
    EXPECT_GE(file.size(), kWorkingParamsSize);
    if (file.size() < kWorkingParamsSize) return record;
    EXPECT_EQ(file[117], Xor117(file));
    DecodeWorkingParams(file.data(), &record);
    return record;
}

std::vector<float> Table15() {
    std::vector<float> table;
    for (int i = 0; i < 15; ++i) table.push_back(902.5f + 0.5f * static_cast<float>(i));
    return table;
}

WorkingParamsSt SampleRecord(uint8_t chanArrayLen) {
    WorkingParamsSt r{};
    r.SubGAppVersion = 10500;
    r.UserSpaceAppVersion = 1091100;
    r.WorkingChann = 2;
    r.RadioFreq = 903.5f;
    r.DiagInterval = 15;
    r.BITInterval = 12;
    r.ChannScanInterval = 30;
    r.RFRegion = 1;
    r.KeepAlive = 7;
    r.SiteID = 42;
    r.FreqChDelay = 5;
    r.SteadyStateInterval = 600;
    r.ChanArrayLen = chanArrayLen;
    return r;
}

// Each case runs in its own process (one ctest per case), so the module's
// state starts as at daemon start; the files go to a fresh directory.
class WorkingParamsTest : public ::testing::Test {
protected:
    // Loads a file with the sample record and the 15-entry table.
    void LoadTable15() {
        WriteBytes(ParamFilName, StoredFile(SampleRecord(15), Table15()));
        LoadParams();
        ASSERT_EQ(SnapshotChanArray().size(), 15u);
    }

private:
    ScratchDir workingDir_{"params_test_", ScratchDir::Cwd::Enter};
};

TEST(WorkingParamsCoding, EveryFieldLandsAtItsOffsetLittleEndian) {
    WorkingParamsSt r{};
    const uint8_t reserved1[4] = {0xA1, 0xA2, 0xA3, 0xA4};
    std::memcpy(r.Reserved1, reserved1, sizeof reserved1);
    r.SubGAppVersion = 10610;
    r.UserSpaceAppVersion = 1091100;
    r.WorkingChann = -2;
    r.RadioFreq = 869.5f;
    r.DiagInterval = 0x01020304;
    r.BITInterval = 24;
    for (int i = 0; i < 64; ++i) r.Reserved2[i] = static_cast<uint8_t>(0xC0 + i);
    r.ChannScanInterval = 60;
    r.RFRegion = 2;
    r.KeepAlive = -1;
    r.SiteID = 0x11223344;
    r.FreqChDelay = 255;
    r.SteadyStateInterval = 0x80000001u;
    r.ChanArrayLen = 15;
    r.CRC = 0x5A;

    const Bytes expected = {
        0xA1, 0xA2, 0xA3, 0xA4,  // Reserved1
        0x72, 0x29, 0x00, 0x00,  // SubGAppVersion 10610
        0x1C, 0xA6, 0x10, 0x00,  // UserSpaceAppVersion 1091100
        0xFE, 0xFF, 0xFF, 0xFF,  // WorkingChann -2
        0x00, 0x60, 0x59, 0x44,  // RadioFreq 869.5
        0x04, 0x03, 0x02, 0x01,  // DiagInterval
        0x18, 0x00, 0x00, 0x00,  // BITInterval
        0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF,
        0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xDE, 0xDF,
        0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF,
        0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
        0x3C, 0x00, 0x00, 0x00,  // ChannScanInterval
        0x02, 0x00, 0x00, 0x00,  // RFRegion
        0xFF, 0xFF, 0xFF, 0xFF,  // KeepAlive -1
        0x44, 0x33, 0x22, 0x11,  // SiteID
        0xFF, 0x00, 0x00, 0x00,  // FreqChDelay
        0x01, 0x00, 0x00, 0x80,  // SteadyStateInterval
        0x0F,                    // ChanArrayLen
        0x5A,                    // CRC, as given
    };
    ASSERT_EQ(expected.size(), kWorkingParamsSize);
    Bytes out(kWorkingParamsSize);
    EncodeWorkingParams(r, out.data());
    EXPECT_EQ(out, expected);

    WorkingParamsSt back{};
    DecodeWorkingParams(expected.data(), &back);
    Bytes again(kWorkingParamsSize);
    EncodeWorkingParams(back, again.data());
    EXPECT_EQ(again, expected);
    EXPECT_EQ(back.WorkingChann, -2);
    EXPECT_EQ(back.KeepAlive, -1);
    EXPECT_FLOAT_EQ(back.RadioFreq, 869.5f);
    EXPECT_EQ(back.SteadyStateInterval, 0x80000001u);
}

TEST_F(WorkingParamsTest, BeforeTheLoadTheRecordIsZeroAndNotLoaded) {
    EXPECT_FALSE(WorkingParamsLoaded());
    Bytes out(kWorkingParamsSize);
    EncodeWorkingParams(SnapshotWorkingParams(), out.data());
    EXPECT_EQ(out, Bytes(kWorkingParamsSize, 0));
    EXPECT_EQ(Radio1Freq.load(), 0.0f);
    EXPECT_TRUE(SnapshotChanArray().empty());
    EXPECT_FALSE(Exists(ParamFilName));
}

TEST_F(WorkingParamsTest, StartWithoutAFileTakesTheDefaultsAndCreatesTheFile) {
    LoadParams();

    EXPECT_TRUE(WorkingParamsLoaded());
    EXPECT_EQ(ParamsUpdated.load(), 1);
    WorkingParamsSt p = SnapshotWorkingParams();
    EXPECT_FLOAT_EQ(p.RadioFreq, 907.0f);
    EXPECT_EQ(p.WorkingChann, 0);
    EXPECT_EQ(p.DiagInterval, 60);
    EXPECT_EQ(p.ChannScanInterval, 60);
    EXPECT_EQ(p.BITInterval, 24);
    EXPECT_EQ(p.KeepAlive, 3);
    EXPECT_EQ(p.SteadyStateInterval, 300u);
    EXPECT_EQ(p.RFRegion, 0);
    EXPECT_EQ(p.ChanArrayLen, 0);
    EXPECT_EQ(p.UserSpaceAppVersion, static_cast<uint32_t>(kUserSpaceAppVersion));
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 907.0f) << "the radios follow the default frequency";
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 907.0f);
    EXPECT_TRUE(SnapshotChanArray().empty());

    Bytes file = ReadBytes(ParamFilName);
    ASSERT_EQ(file.size(), 118u);
    EXPECT_EQ(file[117], Xor117(file));
    EXPECT_EQ(file[117], CalcParamCRC());
    EXPECT_FALSE(Exists(kTmpName));
}

TEST_F(WorkingParamsTest, TheDefaultFileHoldsExactlyTheseBytes) {
    LoadParams();
    EXPECT_EQ(ReadBytes(ParamFilName), kDefaultRecord);
}

TEST_F(WorkingParamsTest, AFlippedChecksumGivesTheDefaultsAndKeepsTheFileAside) {
    WriteBytes(RefusedParamFilName, {1, 2, 3});  // refused at an earlier start
    Bytes file = StoredFile(SampleRecord(0), {});
    file[117] ^= 0x01;
    WriteBytes(ParamFilName, file);

    LoadParams();

    EXPECT_EQ(ReadBytes(RefusedParamFilName), file) << "the latest refused file, byte for byte";

    WorkingParamsSt p = SnapshotWorkingParams();
    EXPECT_EQ(p.DiagInterval, 60);
    EXPECT_EQ(p.KeepAlive, 3);
    EXPECT_EQ(p.SiteID, 0) << "nothing is taken from a damaged record";
    EXPECT_EQ(p.SubGAppVersion, 0u);
    EXPECT_EQ(ReadBytes(ParamFilName), kDefaultRecord);
    EXPECT_TRUE(WorkingParamsLoaded());
}

TEST_F(WorkingParamsTest, AnotherProgramVersionInTheFileLoadsAsThisOne) {
    WorkingParamsSt stored = SampleRecord(0);
    stored.UserSpaceAppVersion = 1080000;
    WriteBytes(ParamFilName, StoredFile(stored, {}));

    LoadParams();

    EXPECT_EQ(SnapshotWorkingParams().UserSpaceAppVersion, static_cast<uint32_t>(kUserSpaceAppVersion));
    EXPECT_EQ(GetVersion(), kUserSpaceAppVersion);
    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 15) << "the rest of the record is taken";
    EXPECT_EQ(SnapshotWorkingParams().SiteID, 42);
    EXPECT_EQ(SnapshotWorkingParams().SubGAppVersion, 10500u);
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 903.5f);
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 903.5f);
    EXPECT_EQ(ParamsUpdated.load(), 1);
}

TEST_F(WorkingParamsTest, ATableOf15MakesA178ByteFileAndItsBytesAreNotChecksummed) {
    LoadParams();
    ChannArrayLen = 15;
    ReplaceChanArray(Table15());
    SetChannArray();
    Bytes file = ReadBytes(ParamFilName);
    ASSERT_EQ(file.size(), 178u);
    EXPECT_EQ(file[116], 15);
    EXPECT_EQ(file[117], Xor117(file));
    for (size_t i = 0; i < 15; ++i) EXPECT_FLOAT_EQ(LeFloat(file, 118 + 4 * i), Table15()[i]);

    file[118 + 4 * 5 + 3] ^= 0x01;  // entry 5 becomes another frequency
    WriteBytes(ParamFilName, file);
    LoadParams();

    std::vector<float> table = SnapshotChanArray();
    ASSERT_EQ(table.size(), 15u);
    EXPECT_NE(table[5], Table15()[5]);
    EXPECT_EQ(table[5], LeFloat(file, 118 + 4 * 5));
    EXPECT_EQ(table[6], Table15()[6]);
    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 60) << "the record loaded, not the defaults";
    EXPECT_EQ(ChannArrayLen.load(), 15);
}

TEST_F(WorkingParamsTest, ATableCutShortKeepsOnlyTheEntriesReadInFull) {
    Bytes file = StoredFile(SampleRecord(15), Table15());
    file.resize(118 + 4 * 6 + 2);
    WriteBytes(ParamFilName, file);

    LoadParams();

    std::vector<float> table = SnapshotChanArray();
    ASSERT_EQ(table.size(), 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(table[i], Table15()[i]);
    EXPECT_EQ(SnapshotWorkingParams().ChanArrayLen, 6);
    EXPECT_EQ(ChannArrayLen.load(), 6);
    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 15);

    SetWorkingChann(7);
    EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, 903.5f) << "entry 7 was never read";
    SetWorkingChann(5);
    EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, Table15()[5]);
    EXPECT_EQ(ReadBytes(ParamFilName).size(), 118u + 4 * 6);
}

TEST_F(WorkingParamsTest, AShortRecordGivesTheDefaults) {
    Bytes file = StoredFile(SampleRecord(0), {});
    file.resize(50);
    WriteBytes(ParamFilName, file);

    LoadParams();

    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 60);
    EXPECT_EQ(SnapshotWorkingParams().SubGAppVersion, 0u) << "no byte of the short file is taken";
    EXPECT_EQ(ReadBytes(ParamFilName), kDefaultRecord);
    EXPECT_EQ(ReadBytes(RefusedParamFilName), file);
}

TEST_F(WorkingParamsTest, AnEmptyFileGivesTheDefaults) {
    WriteBytes(ParamFilName, {});

    LoadParams();

    EXPECT_EQ(SnapshotWorkingParams().KeepAlive, 3);
    EXPECT_EQ(ParamsUpdated.load(), 1);
    EXPECT_EQ(ReadBytes(ParamFilName), kDefaultRecord);
    EXPECT_NE(access(RefusedParamFilName, F_OK), 0) << "nothing to keep";
}

TEST_F(WorkingParamsTest, AKeepAliveOfMinusOneChangesMemoryOnly) {
    LoadParams();
    ParamsUpdated = 0;
    Bytes before = ReadBytes(ParamFilName);

    SetKeepAlive(-1);

    EXPECT_EQ(SnapshotWorkingParams().KeepAlive, -1);
    EXPECT_EQ(ParamsUpdated.load(), 0);
    EXPECT_EQ(ReadBytes(ParamFilName), before);

    SetKeepAlive(10);
    EXPECT_EQ(ParamsUpdated.load(), 1);
    EXPECT_EQ(StoredRecord().KeepAlive, 10);
}

TEST_F(WorkingParamsTest, AWorkingChannelInTheTableSetsBothRadios) {
    LoadTable15();
    ParamsUpdated = 0;

    SetWorkingChann(3);

    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 3);
    EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, 904.0f);
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 904.0f);
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 904.0f);
    EXPECT_EQ(ParamsUpdated.load(), 1);
    WorkingParamsSt stored = StoredRecord();
    EXPECT_EQ(stored.WorkingChann, 3);
    EXPECT_FLOAT_EQ(stored.RadioFreq, 904.0f);
}

TEST_F(WorkingParamsTest, AWorkingChannelOutsideTheTableKeepsTheFrequencies) {
    LoadTable15();
    Radio1Freq = 910.0f;  // the radios may have been set apart by hand

    for (int32_t channel : {15, 200, -1}) {
        SetWorkingChann(channel);
        EXPECT_EQ(SnapshotWorkingParams().WorkingChann, channel);
        EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, 903.5f);
        EXPECT_FLOAT_EQ(Radio1Freq.load(), 910.0f);
        EXPECT_FLOAT_EQ(Radio2Freq.load(), 903.5f);
        EXPECT_EQ(StoredRecord().WorkingChann, channel);
    }
}

TEST_F(WorkingParamsTest, WithoutATableAWorkingChannelChangesOnlyTheChannel) {
    LoadParams();
    ParamsUpdated = 0;

    SetWorkingChann(3);

    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 3);
    EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, 907.0f);
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 907.0f);
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 907.0f);
    EXPECT_EQ(ParamsUpdated.load(), 1);
    EXPECT_EQ(StoredRecord().WorkingChann, 3);
}

TEST_F(WorkingParamsTest, ReaderParametersKeepTheSteadyStateIntervalAndFollowTheTable) {
    LoadTable15();
    ParamsUpdated = 0;
    WorkingParamsSt given = SnapshotWorkingParams();
    given.SteadyStateInterval = 900;
    given.DiagInterval = 30;
    given.WorkingChann = 4;
    given.RadioFreq = 1.0f;

    CopyReaderParam(given);

    EXPECT_EQ(SnapshotWorkingParams().SteadyStateInterval, 600u);
    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 30);
    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 4);
    EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, 904.5f);
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 904.5f);
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 904.5f);
    EXPECT_EQ(ParamsUpdated.load(), 1);
    WorkingParamsSt stored = StoredRecord();
    EXPECT_EQ(stored.SteadyStateInterval, 600u);
    EXPECT_EQ(stored.DiagInterval, 30);
}

TEST_F(WorkingParamsTest, ReaderParametersWithAChannelOutsideTheTableKeepTheFrequencies) {
    LoadTable15();
    WorkingParamsSt given = SnapshotWorkingParams();
    given.WorkingChann = 20;
    given.RadioFreq = 1.0f;

    CopyReaderParam(given);

    EXPECT_EQ(SnapshotWorkingParams().WorkingChann, 20);
    EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, 903.5f);
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 903.5f);
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 903.5f);
    EXPECT_FLOAT_EQ(StoredRecord().RadioFreq, 903.5f);
}

TEST_F(WorkingParamsTest, ReaderParametersWithoutATableTakeTheGivenFrequency) {
    LoadParams();
    WorkingParamsSt given = SnapshotWorkingParams();
    given.RadioFreq = 868.5f;
    given.SteadyStateInterval = 60;

    CopyReaderParam(given);

    EXPECT_FLOAT_EQ(SnapshotWorkingParams().RadioFreq, 868.5f);
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 868.5f);
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 868.5f);
    EXPECT_EQ(SnapshotWorkingParams().SteadyStateInterval, 300u);
}

TEST_F(WorkingParamsTest, ABoardVersionKnownBeforeTheLoadSurvivesIt) {
    SetSubGAppVersion(10610);
    WriteBytes(ParamFilName, StoredFile(SampleRecord(0), {}));  // holds 10500

    LoadParams();

    EXPECT_EQ(SnapshotWorkingParams().SubGAppVersion, 10610u);
    EXPECT_EQ(StoredRecord().SubGAppVersion, 10610u);
    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 15);
}

TEST_F(WorkingParamsTest, ABoardVersionKnownBeforeTheLoadSurvivesTheDefaults) {
    SetSubGAppVersion(10610);
    Bytes damaged = StoredFile(SampleRecord(0), {});
    damaged[117] ^= 0xFF;
    WriteBytes(ParamFilName, damaged);

    LoadParams();

    EXPECT_EQ(SnapshotWorkingParams().SubGAppVersion, 10610u);
    EXPECT_EQ(StoredRecord().SubGAppVersion, 10610u);
    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 60);
}

TEST_F(WorkingParamsTest, EverySetterSavesAndFlags) {
    LoadParams();
    auto check = [](const char* what, void (*set)(), bool (*holds)(const WorkingParamsSt&)) {
        ParamsUpdated = 0;
        set();
        EXPECT_EQ(ParamsUpdated.load(), 1) << what;
        EXPECT_TRUE(holds(SnapshotWorkingParams())) << what << " in memory";
        EXPECT_TRUE(holds(StoredRecord())) << what << " in the file";
    };
    check("diagnostics", [] { SetDiagInterval(5); },
          [](const WorkingParamsSt& p) { return p.DiagInterval == 5; });
    check("site", [] { SetSiteID(77); }, [](const WorkingParamsSt& p) { return p.SiteID == 77; });
    check("delay", [] { SetFreqChDelay(9); },
          [](const WorkingParamsSt& p) { return p.FreqChDelay == 9; });
    check("steady state", [] { SetSteadyStateIntervalProc(1200); },
          [](const WorkingParamsSt& p) { return p.SteadyStateInterval == 1200u; });
    check("frequency", [] { SetRadioFreq(915.25f); },
          [](const WorkingParamsSt& p) { return p.RadioFreq == 915.25f; });
    EXPECT_FLOAT_EQ(Radio1Freq.load(), 915.25f);
    EXPECT_FLOAT_EQ(Radio2Freq.load(), 915.25f);
    check("defaults", [] { InitDefaultParams(); },
          [](const WorkingParamsSt& p) { return p.DiagInterval == 60 && p.SiteID == 77; });
}

TEST_F(WorkingParamsTest, AKillDuringASaveLeavesThePreviousFileWhole) {
    const Bytes previous = StoredFile(SampleRecord(3), {868.1f, 868.3f, 868.5f});
    WriteBytes(ParamFilName, previous);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LoadParams();
        SetParamSaveHook([] { _exit(9); });
        SetDiagInterval(99);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 9) << "the save was cut short between write and rename";

    EXPECT_EQ(ReadBytes(ParamFilName), previous);
    Bytes unfinished = ReadBytes(kTmpName);
    ASSERT_EQ(unfinished.size(), previous.size());
    EXPECT_EQ(Le32(unfinished, 20), 99u) << "the new record had been written aside";

    EXPECT_FALSE(WorkingParamsLoaded());
    LoadParams();
    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 15);
    EXPECT_EQ(SnapshotWorkingParams().SiteID, 42);
    EXPECT_EQ(SnapshotChanArray(), (std::vector<float>{868.1f, 868.3f, 868.5f}));

    SetDiagInterval(20);
    EXPECT_EQ(StoredRecord().DiagInterval, 20) << "a leftover from the cut save is no obstacle";
    EXPECT_FALSE(Exists(kTmpName));
}

TEST_F(WorkingParamsTest, AFailedWriteLeavesThePreviousFileWhole) {
    const Bytes previous = StoredFile(SampleRecord(15), Table15());
    WriteBytes(ParamFilName, previous);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        LoadParams();
        rlimit small{150, 150};  // less than the 178 bytes of the file
        setrlimit(RLIMIT_FSIZE, &small);
        SetDiagInterval(99);
        _exit(SnapshotWorkingParams().DiagInterval == 99 && ParamsUpdated == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(ReadBytes(ParamFilName), previous);
    EXPECT_FALSE(Exists(kTmpName));
}

TEST_F(WorkingParamsTest, AFileThatCannotBeCreatedSkipsTheSaveButKeepsTheChange) {
    const Bytes previous = StoredFile(SampleRecord(0), {});
    WriteBytes(ParamFilName, previous);
    LoadParams();
    ASSERT_EQ(mkdir(kTmpName, 0700), 0);
    ParamsUpdated = 0;

    SetDiagInterval(99);

    EXPECT_EQ(SnapshotWorkingParams().DiagInterval, 99);
    EXPECT_EQ(ParamsUpdated.load(), 1);
    EXPECT_EQ(ReadBytes(ParamFilName), previous);
}

TEST_F(WorkingParamsTest, ConcurrentChangesAlwaysLeaveAWholeFile) {
    LoadTable15();
    auto hammer = [](int base) {
        for (int i = 0; i < 25; ++i) {
            SetDiagInterval(base + i);
            SetWorkingChann(i % 15);
            SetSiteID(base - i);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(hammer, 1000 * (t + 1));
    for (std::thread& t : threads) t.join();

    Bytes file = ReadBytes(ParamFilName);
    ASSERT_EQ(file.size(), 178u);
    Bytes record(kWorkingParamsSize);
    EncodeWorkingParams(SnapshotWorkingParams(), record.data());
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 118), record) << "the last save holds the last change";
    EXPECT_EQ(file[117], Xor117(file));
    EXPECT_FALSE(Exists(kTmpName));
}

}  // namespace
