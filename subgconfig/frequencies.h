// The board's radio configuration: frequencies, channel table, output
// power and intervals, pushed to the board and checked in every keep-alive
// round.
#pragma once

#include <cstdint>

#include "subg/frame.h"
#include "subg/reply.h"

// Queues the whole parameter set for the board. Before the working
// parameters are loaded there is nothing meaningful to send: the upload is
// then owed, and SendOwedBoardParameters makes it once they are.
void SetSubGBoardParameters();
void SendOwedBoardParameters();

// The region and channel-table request, at most kMaxPackedChannels channels.
void PackChannArrayToSubG(T7734FrameRequest* req);

// Queues the frequency request for radio 0 (Radio1Freq) or 1 (Radio2Freq);
// nothing for another radio or for a frequency no radio is meant to have.
void SendRadioFreq(uint8_t radio);

// Queues the 16-bit steady-state interval request.
void SendSteadyStateInterval(uint32_t seconds);

// Replaces the channel table and saves it. A table the board's request
// cannot carry (more than kMaxPackedChannels channels, or a frequency that
// cannot be encoded) is refused: false, and the table stays as it was.
bool ChangeFreqTable(const float* freqs, int count);

// 1 when the periodic channel scan may run.
int DoesFrequenciesTableMatch();

// Reply handlers, run by the serial parser.
// The board's answer whether it still has its parameters; any answer but
// "in place" makes the whole set go out again.
ReplyResult HandleParamCheck(const T7734FrameReply& reply);
ReplyResult HandleSetFreq(const T7734FrameReply& reply);
ReplyResult HandleGetFreq(const T7734FrameReply& reply);
ReplyResult ParseOutPutPower(const T7734FrameReply& reply);
ReplyResult ParseSteadyStateInterval(const T7734FrameReply& reply);
