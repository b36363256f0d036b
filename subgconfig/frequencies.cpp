#include "subgconfig/frequencies.h"

#include "subg/serial_parser.h"

namespace {

constexpr int kSetFreqReplyBytes = 5;
constexpr int kGetFreqReplyBytes = 5;
constexpr int kOutputPowerReplyBytes = 1;
constexpr int kSteadyStateReplyBytes = 2;

int TakeIfLongEnough(int needed) { return BoardMsgDataLen() < needed ? kDiscardQueue : kFrameTaken; }

}  // namespace

// The parameter upload, the comparisons and corrections arrive with the
// board configuration; until then replies are only checked for length.
void SetSubGBoardParameters() {}

int DoesFrequenciesTableMatch() { return 0; }

int HandleSetFreq() { return TakeIfLongEnough(kSetFreqReplyBytes); }
int HandleGetFreq() { return TakeIfLongEnough(kGetFreqReplyBytes); }
int ParseOutPutPower() { return TakeIfLongEnough(kOutputPowerReplyBytes); }
int ParseSteadyStateInterval() { return TakeIfLongEnough(kSteadyStateReplyBytes); }
