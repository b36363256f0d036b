#include "subg/led_word.h"

std::atomic<uint8_t> LedsWord{0x10};

namespace {
constexpr long kTagsRecentSeconds = 4;
constexpr long kTrafficFadeSeconds = 3;

uint8_t Set(uint8_t word, uint8_t bits) { return static_cast<uint8_t>(word | bits); }
uint8_t Clear(uint8_t word, uint8_t bits) { return static_cast<uint8_t>(word & ~bits); }
uint8_t Toggle(uint8_t word, uint8_t bits) { return static_cast<uint8_t>(word ^ bits); }
}  // namespace

uint8_t WifiLevelBits(int dBm) {
    if (dBm == -1) return 0;
    if (dBm < -90) return 8;
    if (dBm < -80) return 12;
    if (dBm >= -60) return 15;
    return 14;
}

uint8_t NextLedsWord(uint8_t previous, const LedInputs& in) {
    uint8_t word = static_cast<uint8_t>((previous & ~LedBit::WifiMask) | WifiLevelBits(in.wifiDBm));
    word = in.rtcConnected ? Set(word, LedBit::RtcLink) : Clear(word, LedBit::RtcLink);
    if (!in.sdCardPresent) {
        word = Toggle(Clear(word, LedBit::TagsHeard), LedBit::Blink);
        if (in.secondsSinceTagMessage > kTrafficFadeSeconds) word = Clear(word, LedBit::TagTraffic);
    } else if (in.secondsSinceTagMessage < kTagsRecentSeconds) {
        word = Clear(Set(word, LedBit::TagsHeard), LedBit::Blink);
    } else if (in.tagCommTimeout) {
        word = Toggle(Clear(word, LedBit::TagsHeard | LedBit::TagTraffic), LedBit::Blink);
    } else {
        word = Clear(Set(word, LedBit::TagsHeard), LedBit::Blink | LedBit::TagTraffic);
    }
    return word;
}

ReplyResult HandleLedWordAck(const T7734FrameReply& reply) {
    return ReplyDataLen(reply) < 1 ? kDiscardQueue : kFrameTaken;
}
