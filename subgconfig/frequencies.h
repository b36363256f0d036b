// The board's radio configuration: frequencies, channel table, output
// power and intervals, pushed to the board and checked in every keep-alive
// round.
#pragma once

// Queues the whole parameter set for the board.
void SetSubGBoardParameters();

// 1 when the periodic channel scan may run.
int DoesFrequenciesTableMatch();

// Reply handlers, run by the serial parser with the reply in BoardMsg.
int HandleSetFreq();
int HandleGetFreq();
int ParseOutPutPower();
int ParseSteadyStateInterval();
