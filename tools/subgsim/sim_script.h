// The board's scripted output: parsed up front so that a typo stops the
// simulator at start-up rather than in the middle of a run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ScriptCommand {
    enum class Kind { Sleep, Send, Reply };
    Kind kind = Kind::Sleep;
    int line = 0;
    uint32_t sleepMs = 0;
    uint8_t opcode = 0;
    std::vector<uint8_t> bytes;  // raw bytes for Send, data bytes for Reply
};

struct ScriptParse {
    std::vector<ScriptCommand> commands;
    std::string error;  // "line N: ..." for the first bad line, empty when all lines are good
};

ScriptParse ParseScript(const std::string& text);
