// The channel survey: the RSSI readings the board reports while it scans,
// batched per radio and collected per channel of the table for the RTC,
// with the survey's progress. The RTC starts and cancels it.
#pragma once

#include <atomic>
#include <cstdint>

#include "ZemloChannelSurveyResults.pb.h"

constexpr int kReadingsPerChannel = 30;
constexpr int kMaxReadingsPerHandOver = 12;
constexpr int kSurveyedChannels = 15;  // the first channels of the table only

// Where the progress goes after each update: channel number (from 1), the
// channel's and the survey's progress in percent, the number of channels.
// Called with ChannScanMutex held. Set before the survey can run.
using SurveyProgressSink = void (*)(unsigned channel, unsigned channelProgress, unsigned surveyProgress,
                                    unsigned totalChannels);
void SetSurveyProgressSink(SurveyProgressSink sink);

// The RTC's commands: queue the board's start or stop request. Starting
// also empties the results and restarts both radios' batches at channel 0;
// cancelling empties the results.
void StartChannelSurvey();
void CancelChannelSurvey();

// One reading of a radio (0 or 1) at a frequency, in dBm. Serial parser.
void FeedSurveyReading(uint8_t radio, float mhz, int dbm);

// Adds count readings to the channel's entry (at most 30 per channel) and
// reports the progress. A completed survey stops the board and keeps its
// results for the RTC.
void UpdateChannScan(const int* readings, unsigned channel, int count);

// The backbone's side: a copy of the results when they changed since the
// last copy. False when nothing changed.
bool TakeSurveyResults(ZemloChannelSurveyResults* out);
