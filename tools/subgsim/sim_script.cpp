#include "tools/subgsim/sim_script.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

#include "subg/frame.h"

namespace {

constexpr uint32_t kMaxSleepMs = 24u * 3600u * 1000u;
constexpr size_t kMaxSendBytes = 4096;

bool ParseHexByte(std::string word, uint8_t* out) {
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) word.erase(0, 2);
    if (word.empty() || word.size() > 2) return false;
    for (char c : word) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    *out = static_cast<uint8_t>(std::strtoul(word.c_str(), nullptr, 16));
    return true;
}

bool ParseDecimal(const std::string& word, uint32_t max, uint32_t* out) {
    if (word.empty() || word.size() > 10) return false;
    uint64_t value = 0;
    for (char c : word) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > max) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

std::string ParseHexList(std::istringstream& words, size_t max, std::vector<uint8_t>* out) {
    std::string word;
    while (words >> word) {
        uint8_t byte = 0;
        if (!ParseHexByte(word, &byte)) return "bad hex byte '" + word + "'";
        if (out->size() == max) return "more than " + std::to_string(max) + " bytes";
        out->push_back(byte);
    }
    return "";
}

std::string ParseSleep(std::istringstream& words, ScriptCommand* cmd) {
    std::string ms;
    std::string extra;
    if (!(words >> ms) || (words >> extra)) return "sleep takes one number of milliseconds";
    if (!ParseDecimal(ms, kMaxSleepMs, &cmd->sleepMs)) return "bad milliseconds '" + ms + "'";
    return "";
}

std::string ParseSend(std::istringstream& words, ScriptCommand* cmd) {
    std::string error = ParseHexList(words, kMaxSendBytes, &cmd->bytes);
    if (error.empty() && cmd->bytes.empty()) return "send needs at least one byte";
    return error;
}

std::string ParseReply(std::istringstream& words, ScriptCommand* cmd) {
    std::string op;
    uint32_t opcode = 0;
    if (!(words >> op)) return "reply needs an opcode";
    if (!ParseDecimal(op, 255, &opcode)) return "bad opcode '" + op + "' (decimal 0-255)";
    cmd->opcode = static_cast<uint8_t>(opcode);
    return ParseHexList(words, kMaxFrameData, &cmd->bytes);
}

// Returns an error text, empty when the line is good; *isCommand tells
// whether the line held a command at all.
std::string ParseLine(std::string line, ScriptCommand* cmd, bool* isCommand) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string verb;
    *isCommand = static_cast<bool>(words >> verb);
    if (!*isCommand) return "";
    if (verb == "sleep") {
        cmd->kind = ScriptCommand::Kind::Sleep;
        return ParseSleep(words, cmd);
    }
    if (verb == "send") {
        cmd->kind = ScriptCommand::Kind::Send;
        return ParseSend(words, cmd);
    }
    if (verb == "reply") {
        cmd->kind = ScriptCommand::Kind::Reply;
        return ParseReply(words, cmd);
    }
    return "unknown command '" + verb + "'";
}

}  // namespace

ScriptParse ParseScript(const std::string& text) {
    ScriptParse result;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        ScriptCommand cmd;
        cmd.line = number;
        bool isCommand = false;
        std::string error = ParseLine(line, &cmd, &isCommand);
        if (!error.empty()) {
            result.commands.clear();
            result.error = "line " + std::to_string(number) + ": " + error;
            return result;
        }
        if (isCommand) result.commands.push_back(std::move(cmd));
    }
    return result;
}
