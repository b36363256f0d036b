#include "console/commands.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "console/console_io.h"
#include "console/tag_firmware.h"
#include "params/program_version.h"
#include "params/rf_settings.h"
#include "params/rf_settings_file.h"
#include "params/working_params.h"
#include "platform/byte_order.h"
#include "subg/opcodes.h"
#include "subg/radio.h"
#include "subg/scheduler.h"
#include "subgconfig/config_requests.h"
#include "subgconfig/frequencies.h"
#include "subgconfig/rf_startup.h"
#include "subgconfig/versions.h"
#include "tags/csv_logs.h"

namespace {

// Only the RSSI scans select both radios; the per-radio commands then send 2
// as their radio.
constexpr uint8_t kBothRadios = 2;
constexpr uint8_t kOneScanPass = 1;

// What the board's requests can carry: a byte of minutes, a 16-bit number of
// seconds, the channels one frame holds.
constexpr ConsoleNumberRange kDiagIntervalRange{"Diagnostics interval", 0, UINT8_MAX, " minutes"};
constexpr ConsoleNumberRange kFreqChDelayRange{"Frequency change delay", 0, UINT8_MAX, " minutes"};
constexpr ConsoleNumberRange kChannelCountRange{"Number of channels", 0, kMaxPackedChannels, ""};
constexpr ConsoleNumberRange kSteadyStateRange{"Steady state interval", 0, UINT16_MAX, " seconds"};

uint8_t RadioNum = kRadio1;

template <uint8_t Op>
void BareCommand() {
    QueueConsoleRequest(MakeRequest(Op));
}

template <uint8_t Op>
void RadioCommand() {
    QueueConsoleRequest(MakeRequest(Op, &RadioNum, 1));
}

template <uint8_t Op>
void BothRadiosCommand() {
    const uint8_t both = kBothRadios;
    QueueConsoleRequest(MakeRequest(Op, &both, 1));
}

// With both radios selected, neither radio's setting changes.
template <typename T>
void SetForSelectedRadio(std::atomic<T>& radio1, std::atomic<T>& radio2, T value) {
    if (RadioNum == kRadio1) radio1 = value;
    if (RadioNum == kRadio2) radio2 = value;
}

void ChangeFreq() {
    std::fputs("Please enter frequency:\n", stderr);
    float mhz;
    if (!ReadConsoleFreq(&mhz)) return;
    SetForSelectedRadio(Radio1Freq, Radio2Freq, mhz);
    SaveRFSettings();
    std::fprintf(stderr, "Entered frequency: %f\n", mhz);
    SendRadioFreq(RadioNum);
}

void EnterCWMode() {
    std::fputs("Select:\n1 - modulated 1 sec ON/OFF duty cycle\n2 - Unmodulated\n3 - stable modulated\n"
               "4 - modulated 5/10000\n",
               stderr);
    const int32_t choice = ParseNum();
    if (choice < 1 || choice > 4) return;
    const uint8_t data[2] = {RadioNum, static_cast<uint8_t>(choice - 1)};
    QueueConsoleRequest(MakeRequest(SubGOp::ContinuousWave, data, sizeof data));
}

void SwitchRadio() {
    std::fputs("Select Radio: 1\\2 \n", stderr);
    const int32_t choice = ParseNum();
    if (choice == 1) RadioNum = kRadio1;
    if (choice == 2) RadioNum = kRadio2;
}

void SetOutputPower() {
    std::fputs("Enter TX power (0 - 15, -3, -6, -11):\n", stderr);
    const int32_t dBm = ParseNum();
    const int code = CalcPA(dBm);
    if (code == kNoPACode) return;
    QueueConsoleRequest(OutputPowerRequest(RadioNum, static_cast<uint8_t>(code)));
    SetForSelectedRadio(Radio1Power, Radio2Power, static_cast<int>(dBm));
    SaveRFSettings();
}

template <uint8_t AllChannels>
void ScanRSSI() {
    std::fputs("Select radio (1 - radio 1, 2 - radio 2, 3 - Both radios:\n", stderr);
    const int32_t choice = ParseNum();
    if (choice < 1 || choice > 3) return;
    RadioNum = static_cast<uint8_t>(choice - 1);
    if (!CsvLogOpen(CsvLog::RSSI)) OpenRSSIFile();
    const uint8_t data[3] = {RadioNum, AllChannels, kOneScanPass};
    QueueConsoleRequest(MakeRequest(SubGOp::ScanRSSI, data, sizeof data));
}

void StopRSSIScanning() {
    BothRadiosCommand<SubGOp::StopScanRSSI>();
    CloseRSSIFile();
}

void StartPERTest() {
    BothRadiosCommand<SubGOp::StartPERTest>();
    if (!CsvLogOpen(CsvLog::PERTest)) OpenPERTestFile();
}

void StopPERTest() {
    BothRadiosCommand<SubGOp::StopPERTest>();
    ClosePERTest();
    std::fprintf(stderr, "\n\n >>> Received packets = %u <<<\n\n", PacketCounter.load());
}

void DisplayHostVersion() {
    std::fprintf(stderr, "\nTarnel version %02d.%02d.%02d.%02d\n\n", kTarnelVersion[0], kTarnelVersion[1],
                 kTarnelVersion[2], kTarnelVersion[3]);
}

// The version the board last reported, as the working parameters keep it.
void DisplaySubGVersion() {
    const uint32_t version = CurrentSubGAppVersion();
    std::fprintf(stderr, "\nSubG Board App version: %02u.%02u.%02u\n\n", version / 10000, version / 100 % 100,
                 version % 100);
    BareCommand<SubGOp::GetSWVersion>();
}

// The settings file and the working parameters once more, then a restart
// that the link notices: the board's first answer brings the whole
// parameter set again.
void RestartSubGBoard() {
    LoadAndSetRFSettings();
    ResetBoard();
}

void SetDiagnosticsInterval() {
    std::fputs("Please enter diagnostics collection interval in minutes:\n", stderr);
    int32_t minutes;
    if (!ReadConsoleNumber(kDiagIntervalRange, &minutes)) return;
    SetDiagInterval(minutes);
    QueueConsoleRequest(DiagIntervalRequest(SnapshotWorkingParams().DiagInterval));
}

void SetFrequencyChangeDelay() {
    std::fputs("Please enter delay in minutes (0-255):\n", stderr);
    int32_t minutes;
    if (!ReadConsoleNumber(kFreqChDelayRange, &minutes)) return;
    const uint8_t lowByte = static_cast<uint8_t>(minutes);
    QueueConsoleRequest(MakeRequest(SubGOp::SetFreqChangeDelay, &lowByte, 1));
    SetFreqChDelay(minutes);
}

// Asks until a valid frequency comes; false at the end of input.
bool ReadChannelFreq(float* mhz) {
    for (;;) {
        std::fputs("Please enter frequency:\n", stderr);
        if (ReadConsoleFreq(mhz)) {
            std::fprintf(stderr, "Entered frequency: %f\n", *mhz);
            return true;
        }
        if (ConsoleInputEnded()) return false;
        std::fputs("Please type again", stderr);
    }
}

// The region typed is not used: the table goes with the stored region.
void SetRegionChannels() {
    std::fputs("Please enter region ID number:\n", stderr);
    ParseNum();
    if (ConsoleInputEnded()) return;
    std::fputs("Please enter number of channels in the region:\n", stderr);
    int32_t count;
    if (!ReadConsoleNumber(kChannelCountRange, &count)) return;
    std::vector<float> table(static_cast<size_t>(count));
    for (float& mhz : table) {
        if (!ReadChannelFreq(&mhz)) return;
    }
    if (!ChangeFreqTable(table.data(), count)) return;
    T7734FrameRequest request;
    PackChannArrayToSubG(&request);
    QueueConsoleRequest(request);
}

void SetChannelIndex() {
    const int channels = static_cast<int>(SnapshotChanArray().size());
    if (channels == 0) {
        std::fputs("Please set channels table first:\n", stderr);
        return;
    }
    std::fprintf(stderr, "Please enter channel index 1-%d:\n", channels);
    const int32_t index = ParseNum();
    if (ConsoleInputEnded()) return;
    if (index < 1 || index > channels) {
        std::fprintf(stderr, "Invalid channel index %d \n", index);
        return;
    }
    QueueConsoleRequest(WorkingChannelRequest(index - 1));
    SetWorkingChann(index - 1);
    SetRadioFreq(Radio2Freq);
}

void SetSteadyState() {
    std::fputs("Please enter steady state interval in seconds:\n", stderr);
    int32_t seconds;
    if (!ReadConsoleNumber(kSteadyStateRange, &seconds)) return;
    SetSteadyStateIntervalProc(seconds);
    SendSteadyStateInterval(static_cast<uint32_t>(seconds));
}

// Only the number is the console's to set; the rest of the record stays 0.
void SetSerialNumber() {
    std::fputs("Please enter Serial number:\n", stderr);
    const int32_t number = ParseNum();
    if (number == kInvalidNum) return;
    uint8_t record[kGVTSize] = {};
    PutLE32(record + 1, static_cast<uint32_t>(number));
    QueueConsoleRequest(MakeRequest(SubGOp::SetSerialNumber, record, sizeof record));
}

struct ConsoleCommand {
    int number;
    const char* menuLine;
    void (*run)();
};

// The menu shows these lines and a number runs its entry: one table, so
// that the two cannot drift apart.
constexpr ConsoleCommand kConsoleCommands[] = {
    {1, "1) Change freq", ChangeFreq},
    {2, "2) Reset chip", RadioCommand<SubGOp::ResetChip>},
    {3, "3) Crystal Oscillator Off", RadioCommand<SubGOp::XtalOff>},
    {4, "4) Crystal Oscillator On", RadioCommand<SubGOp::XtalOn>},
    {5, "5) Display part number", RadioCommand<SubGOp::PartNumber>},
    {6, "6) Display part version", RadioCommand<SubGOp::PartVersion>},
    {7, "7) Run 1st manual calibration", RadioCommand<SubGOp::ManualCal1>},
    {8, "8) Run 2nd manual calibration", RadioCommand<SubGOp::ManualCal2>},
    {9, "9) Freq. Synthesizer ON", RadioCommand<SubGOp::SynthOn>},
    {10, "10) Enter CW mode", EnterCWMode},
    {11, "11) Switch Radio", SwitchRadio},
    {12, "12) Set output power", SetOutputPower},
    {13, "13) Scan RSSI on Current frequency", ScanRSSI<0>},
    {14, "14) Scan RSSI on all channels", ScanRSSI<1>},
    {15, "15) Stop RSSI scanning", StopRSSIScanning},
    {16, "16) Start PER test", StartPERTest},
    {17, "17) Stop PER test", StopPERTest},
    {18, "18) Reset diagnostics", BareCommand<SubGOp::ResetDiagnostics>},
    {19, "19) Display Host board app version", DisplayHostVersion},
    {20, "20) Display SubG board app version", DisplaySubGVersion},
    {21, "21) Collect from 2 radios", BareCommand<SubGOp::CollectBothRadios>},
    {22, "22) Get FW file ", GetFwFilePath},
    {23, "23) Start FW load (Packet by packet)", StartFwLoadPacketByPacket},
    {24, "24) Start FW load (Continuous)", StartFwLoadContinuous},
    {25, "25) Restart SubG board application", RestartSubGBoard},
    {26, "26) Set diagnostics interval", SetDiagnosticsInterval},
    {27, "27) Send reset tag diagnostics", BareCommand<SubGOp::StartResetTagDiag>},
    {28, "28) Stop sending tag reset diagnostics", BareCommand<SubGOp::StopResetTagDiag>},
    {29, "29) Get Frequency", RadioCommand<SubGOp::GetFreq>},
    {30, "30) Start beacon", BareCommand<SubGOp::StartBeacon>},
    {31, "31) Stop beacon", BareCommand<SubGOp::StopBeacon>},
    {32, "32) Set frequency change delay", SetFrequencyChangeDelay},
    {33, "33) Request tag's parameters", BareCommand<SubGOp::StartTagParams>},
    {34, "34) Stop request tag's parameters", BareCommand<SubGOp::StopTagParams>},
    {35, "35) Set RF region's channels table", SetRegionChannels},
    {36, "36) Set channel index", SetChannelIndex},
    {37, "37) Set steady state interval", SetSteadyState},
    {38, "38) Get SubGBoard checksum", BareCommand<SubGOp::GetAppChecksum>},
    {39, "39) SetSerialNumber", SetSerialNumber},
    {40, "40) GetServiceInfo", BareCommand<SubGOp::GetServiceInfo>},
};
constexpr int kCommandCount = static_cast<int>(sizeof kConsoleCommands / sizeof kConsoleCommands[0]);
static_assert(kCommandCount == 40, "forty commands");

// Each entry sits at its number, and its menu line starts with it.
constexpr bool NumberedInOrder() {
    for (int i = 0; i < kCommandCount; ++i) {
        const char* line = kConsoleCommands[i].menuLine;
        int shown = 0;
        while (*line >= '0' && *line <= '9') shown = shown * 10 + (*line++ - '0');
        if (kConsoleCommands[i].number != i + 1 || shown != i + 1 || line[0] != ')' || line[1] != ' ') return false;
    }
    return true;
}
static_assert(NumberedInOrder(), "the menu lines and the dispatch agree");

}  // namespace

void ShowMenu() {
    std::fprintf(stderr, "Selected Radio - %d\n", RadioNum + 1);
    std::fputs("Please select command num:\n", stderr);
    for (const ConsoleCommand& command : kConsoleCommands) std::fprintf(stderr, "%s\n", command.menuLine);
}

void RunConsoleCommand(int32_t number) {
    if (number < 1 || number > kCommandCount) {
        std::fputs("Unknown command! \n", stderr);
        return;
    }
    kConsoleCommands[number - 1].run();
}
