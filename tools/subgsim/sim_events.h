// What the simulator saw and did, written twice: as machine-readable record
// lines for tests and as human-readable lines for someone watching.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "subg/frame.h"
#include "tools/subgsim/sim_state.h"

std::string HexBytes(const uint8_t* bytes, size_t n);
std::string OpcodeName(uint8_t opcode);

// Record lines without their time stamp.
namespace RecordBody {
std::string Frame(const T7734FrameRequest& frame);
std::string Sent(const T7734FrameReply& frame);
std::string Raw(const std::vector<uint8_t>& bytes);
std::string Bad(const std::vector<uint8_t>& bytes);
std::string Ignored(size_t count);
std::string ResetLow();
std::string ResetHigh(long lowMs);
std::string State(const BoardState& state);
std::string Control(const std::string& line);
std::string ControlError(const std::string& text);
std::string BadTag(const char* kind, uint32_t tagId, uint8_t seq);
std::string Stats(uint64_t tags, uint64_t records);
std::string Loader(const std::string& event);
}  // namespace RecordBody

// Either output may be null. Every line is flushed at once, since readers
// follow the files while the simulator runs.
class EventLog {
public:
    EventLog(FILE* record, FILE* verbose) : record_(record), verbose_(verbose) {}

    void HostFrame(const T7734FrameRequest& frame, const std::vector<uint8_t>& wire);
    void BoardReply(const T7734FrameReply& frame, const uint8_t* wire, size_t n);
    void RawSent(const std::vector<uint8_t>& bytes);
    void Bad(const std::vector<uint8_t>& bytes);
    void Ignored(size_t count);
    void ResetLow();
    void ResetHigh(long lowMs);
    void StateChanged(const BoardState& state);
    void Control(const std::string& line);
    void ControlError(const std::string& text);
    // Announces the malformed message whose bytes follow.
    void BadTag(const char* kind, uint32_t tagId, uint8_t seq);
    void Stats(uint64_t tags, uint64_t records);
    // What the boot loader or boot ROM did: entered, activated, restarted.
    void Loader(const std::string& event);

private:
    void Emit(const std::string& body, const std::string& human);

    FILE* record_;
    FILE* verbose_;
};
