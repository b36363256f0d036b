// The board's scripted output and the commands that steer a run, parsed up
// front so that a typo in a script stops the simulator at start-up rather
// than in the middle of a run. The control FIFO takes the same lines.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/subgsim/sim_loader.h"
#include "tools/subgsim/sim_tag_traffic.h"

constexpr uint32_t kMaxReplyDelayMs = 60000;

struct ScriptCommand {
    enum class Kind {
        Sleep, Send, Reply, Silent, Tags, Delay, Never, Answer, ForgetFreq, ForgetSteady, ForgetAll, ParamCheck,
        Tag, BadTag, TagRate, Stats, Diag, Loader
    };
    Kind kind = Kind::Sleep;
    int line = 0;
    // Milliseconds for Sleep, Tags and Delay; 1 (on) or 0 for Silent; the
    // radio for ForgetFreq; the reply byte for ParamCheck; messages a
    // second for TagRate.
    uint32_t number = 0;
    uint8_t opcode = 0;              // Reply, Never, Answer
    std::optional<uint32_t> tagId;   // Tags and TagRate when given; Tag, BadTag
    std::vector<uint8_t> bytes;      // raw bytes for Send, data bytes for Reply
    uint8_t seq = 0;                 // Tag, BadTag
    uint8_t delayCount = 0;          // Tag
    std::vector<SubMsgKind> subMsgs; // Tag
    MalformedKind malformed = MalformedKind::Format1;  // BadTag
    LoaderCommand loader;            // Loader
};

// One line. Returns an error text, empty when the line is good; *isCommand
// tells whether the line held a command at all (not blank or a comment).
std::string ParseCommandLine(std::string line, ScriptCommand* cmd, bool* isCommand);

struct ScriptParse {
    std::vector<ScriptCommand> commands;
    std::string error;  // "line N: ..." for the first bad line, empty when all lines are good
};

ScriptParse ParseScript(const std::string& text);
