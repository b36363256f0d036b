// The tags' MEMS filter parameters, taken from "MEMS_Param.txt" in the log
// directory: the reader either hands parameters to the tags, or has them
// report the values they compute ("collect"), or neither.
#pragma once

#include <atomic>
#include <cstdint>

constexpr const char* kMEMSParamFileName = "MEMS_Param.txt";
constexpr uint16_t kNoStepRecogTimeout = 255;
constexpr uint8_t kNoMinNumOfAccelExceptions = 0;

extern std::atomic<uint8_t> CollectMEMS;
extern std::atomic<uint8_t> MinNumOfAccelExceptions;  // 0: no value
extern std::atomic<uint16_t> StepRecogTimeout;        // 255: no value

// True when the file gave the tags parameters to use (either value set).
bool MEMSParamsGiven();

// What the file's first line asks for.
struct MEMSLineRequest {
    bool collect;
    int parts;  // comma-separated parts
    uint16_t stepRecogTimeout;
    uint8_t minNumOfAccelExceptions;
};

// "collect", or two decimal numbers "step,min" (kept to their low 16 and 8
// bits); a part that is not a number, or out of range, leaves its value at
// none (the second is not read when the first fails).
MEMSLineRequest ParseMEMSLine(const char* line);

// Reads the file afresh; run by the main thread, so that the serial
// threads never wait on the storage. An empty file is deleted.
void RefreshMEMSParamFile();

// Takes what the file last said; run by the scheduler every few seconds,
// then UpdateMEMSFiletrParams, which queues the two requests of the mode:
// the stop of the other mode, then the start of this one.
void NeedToChangeMEMSParam();
void UpdateMEMSFiletrParams();
