#include "subgconfig/mems_params.h"

std::atomic<uint8_t> CollectMEMS{0};
std::atomic<uint8_t> MinNumOfAccelExceptions{0};
std::atomic<uint16_t> StepRecogTimeout{255};

// The parameter file and the requests to the board arrive with the tag data.
void NeedToChangeMEMSParam() {}
void UpdateMEMSFiletrParams() {}
