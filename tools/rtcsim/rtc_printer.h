// What the simulated RTC saw and did, one line per message or event: in a
// readable form for someone watching, or as JSON lines for programs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace google::protobuf {
class Message;
}

// An empty message of the kind the envelope number announces, or null for
// a number no message has.
std::unique_ptr<google::protobuf::Message> NewMessageFor(uint32_t number);

// The envelope's name; a data package with index 0 is a keep-alive.
std::string KindName(uint32_t number, const google::protobuf::Message* parsed);

// The readable summary of a message: its header, its counts, its fields.
std::string Summary(uint32_t number, const google::protobuf::Message& msg);

enum class Direction { kReceived, kSent };

using Fields = std::vector<std::pair<std::string, std::string>>;

// Either output may be null. Every line is flushed at once: tests and
// scripts follow the file while the simulator runs.
class Printer {
public:
    // label goes before every line on the screen, to tell our lines from
    // others sharing the terminal. Lines are timed from our start, or by
    // the monotonic clock itself, to be set beside other programs' records.
    Printer(FILE* screen, FILE* file, bool json, const std::string& label = "", bool monotonicTimes = false);

    // Parses the body, prints it and counts it by kind.
    void Envelope(Direction direction, uint32_t number, const std::string& body);
    // A named event (CONNECT, CLOSED, ...) with its fields in order.
    void Event(const std::string& name, const Fields& fields);
    // The messages counted so far by direction and kind, then extra.
    void Stats(const Fields& extra = {});

private:
    void Emit(const std::string& readable, const std::string& json);
    std::string Time() const;

    FILE* screen_;
    FILE* file_;
    bool json_;
    std::string label_;
    double start_;
    std::map<std::string, uint64_t> received_;
    std::map<std::string, uint64_t> sent_;
};
