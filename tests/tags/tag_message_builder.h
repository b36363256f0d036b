// Builds tag message payloads (the data of an opcode-0 frame) for tests:
// radio byte, header, sub-messages, RSSI byte.
#pragma once

#include <cstdint>
#include <vector>

#include "subg/frame.h"

struct TagMsgBuilder {
    uint8_t radio = 0;
    uint8_t formatId = 2;
    uint32_t tagId = 0x01020304;
    uint8_t msgId = 7;
    uint8_t intervalLength = 3;
    uint8_t delayCount = 0;
    int announced = -1;  // sub-message count in the header; -1: as many as added
    uint8_t rssiByte = 0x10;
    std::vector<uint8_t> subs;
    int count = 0;

    // A sub-message: its type byte and body bytes as given.
    TagMsgBuilder& Sub(uint8_t type, const std::vector<uint8_t>& body = {}) {
        subs.push_back(type);
        subs.insert(subs.end(), body.begin(), body.end());
        ++count;
        return *this;
    }

    TagMsgBuilder& Activity(uint8_t type, uint8_t seq, uint16_t steps = 0, uint16_t standing = 0, uint8_t lyingNum = 0,
                            uint8_t lyingTime = 0, uint8_t flags = 0) {
        return Sub(type, {seq, static_cast<uint8_t>(steps), static_cast<uint8_t>(steps >> 8),
                          static_cast<uint8_t>(standing), static_cast<uint8_t>(standing >> 8), lyingNum, lyingTime,
                          flags});
    }

    std::vector<uint8_t> Payload() const {
        std::vector<uint8_t> p = {radio,
                                  static_cast<uint8_t>(9 + subs.size()),
                                  formatId,
                                  static_cast<uint8_t>(tagId),
                                  static_cast<uint8_t>(tagId >> 8),
                                  static_cast<uint8_t>(tagId >> 16),
                                  static_cast<uint8_t>(tagId >> 24),
                                  msgId,
                                  intervalLength,
                                  static_cast<uint8_t>(announced >= 0 ? announced : count),
                                  delayCount};
        p.insert(p.end(), subs.begin(), subs.end());
        p.push_back(rssiByte);
        return p;
    }

    T7734FrameReply Frame() const {
        std::vector<uint8_t> p = Payload();
        return MakeReply(0, p.data(), p.size());
    }
};

// Diagnostics bodies with recognisable values.
inline std::vector<uint8_t> DiagV2Body() {
    return {2, 1, 2, 0x1F, 4, 5, 90, 7, 0x34, 0x12, 0x41, 0xFE, 10, 11, 12, 0x80, 0xA5, 0x01, 0, 0xC3};
}

inline std::vector<uint8_t> DiagV1Body() {
    return {1, 3, 4, 0x2A, 5, 6, 80, 9, 0x10, 0x27, 60, 25, 0x85, 0x5A, 0, 0, 0x77};
}

inline std::vector<uint8_t> ParamsBody() { return {0x2C, 0x01, 3, 0x58, 0x02, 0x10, 0x0E, 0x3C, 0, 5, 6, 7, 8}; }
