// The reader's LED word, sent to the SubG board which drives the LEDs.
#pragma once

#include <atomic>
#include <cstdint>

#include "subg/reply.h"

namespace LedBit {
constexpr uint8_t WifiMask = 0x0F;
constexpr uint8_t TagsHeard = 0x10;
constexpr uint8_t Blink = 0x20;
constexpr uint8_t RtcLink = 0x40;
constexpr uint8_t TagTraffic = 0x80;
}  // namespace LedBit

// The LED word last sent; tag messages set its traffic bit.
extern std::atomic<uint8_t> LedsWord;

// Bits 0-3 from a Wi-Fi signal level in dBm (-1: no reading).
uint8_t WifiLevelBits(int dBm);

struct LedInputs {
    int wifiDBm;
    bool rtcConnected;
    bool sdCardPresent;
    long secondsSinceTagMessage;
    bool tagCommTimeout;
};

// The next LED word from the previous one and the reader's state.
uint8_t NextLedsWord(uint8_t previous, const LedInputs& in);

// The board's acknowledgement of an LED word: one data byte.
ReplyResult HandleLedWordAck(const T7734FrameReply& reply);
