// The tags' MEMS filter parameters, taken from "MEMS_Param.txt".
#pragma once

#include <atomic>
#include <cstdint>

extern std::atomic<uint8_t> CollectMEMS;
extern std::atomic<uint8_t> MinNumOfAccelExceptions;  // 0: no value
extern std::atomic<uint16_t> StepRecogTimeout;  // 255: no value

void NeedToChangeMEMSParam();
void UpdateMEMSFiletrParams();
