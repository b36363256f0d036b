#include "tools/subgsim/sim_script.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <sstream>

#include "subg/frame.h"
#include "tools/subgsim/sim_rate.h"

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

// Takes the rest of the line's words, between min and max of them.
bool TakeWords(std::istringstream& words, size_t min, size_t max, std::vector<std::string>* out) {
    std::string word;
    while (words >> word) {
        if (out->size() == max) return false;
        out->push_back(word);
    }
    return out->size() >= min;
}

std::string ParseMs(const std::string& word, uint32_t max, uint32_t* out) {
    return ParseDecimal(word, max, out) ? "" : "bad milliseconds '" + word + "'";
}

std::string ParseOpcode(const std::string& word, uint8_t* out) {
    uint32_t value = 0;
    if (!ParseDecimal(word, 255, &value)) return "bad opcode '" + word + "' (decimal 0-255)";
    *out = static_cast<uint8_t>(value);
    return "";
}

std::string ParseTagId(const std::string& word, ScriptCommand* cmd) {
    uint32_t id = 0;
    if (!ParseDecimal(word, UINT32_MAX, &id)) return "bad tag id '" + word + "' (decimal, 32 bits)";
    cmd->tagId = id;
    return "";
}

std::string ParseSleep(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 1, &w)) return "sleep takes one number of milliseconds";
    return ParseMs(w[0], kMaxSleepMs, &cmd->number);
}

std::string ParseSend(std::istringstream& words, ScriptCommand* cmd) {
    std::string error = ParseHexList(words, kMaxSendBytes, &cmd->bytes);
    if (error.empty() && cmd->bytes.empty()) return "send needs at least one byte";
    return error;
}

std::string ParseReply(std::istringstream& words, ScriptCommand* cmd) {
    std::string op;
    if (!(words >> op)) return "reply needs an opcode";
    std::string error = ParseOpcode(op, &cmd->opcode);
    return error.empty() ? ParseHexList(words, kMaxFrameData, &cmd->bytes) : error;
}

std::string ParseSilent(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 1, &w) || (w[0] != "on" && w[0] != "off")) return "silent takes on or off";
    cmd->number = w[0] == "on" ? 1 : 0;
    return "";
}

std::string ParseTags(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 2, &w)) return "tags takes milliseconds and an optional tag id";
    std::string error = ParseMs(w[0], kMaxSleepMs, &cmd->number);
    if (!error.empty() || w.size() == 1) return error;
    return ParseTagId(w[1], cmd);
}

std::string ParseDelay(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 1, &w)) return "delay takes one number of milliseconds";
    return ParseMs(w[0], kMaxReplyDelayMs, &cmd->number);
}

std::string ParseOpcodeOnly(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 1, &w)) return "never and answer take one opcode";
    return ParseOpcode(w[0], &cmd->opcode);
}

std::string ParseForget(std::istringstream& words, ScriptCommand* cmd) {
    const char* usage = "forget takes freq 0|1, steady or all";
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 2, &w)) return usage;
    if (w[0] == "freq" && w.size() == 2 && (w[1] == "0" || w[1] == "1")) {
        cmd->kind = ScriptCommand::Kind::ForgetFreq;
        cmd->number = w[1] == "1" ? 1 : 0;
        return "";
    }
    if (w.size() == 1 && (w[0] == "steady" || w[0] == "all")) {
        cmd->kind = w[0] == "all" ? ScriptCommand::Kind::ForgetAll : ScriptCommand::Kind::ForgetSteady;
        return "";
    }
    return usage;
}

std::string ParseParamCheck(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 1, &w) || !ParseDecimal(w[0], 255, &cmd->number)) {
        return "paramcheck takes one byte value (decimal 0-255)";
    }
    return "";
}

std::string ParseByte(const std::string& word, const char* what, uint8_t* out) {
    uint32_t value = 0;
    if (!ParseDecimal(word, UINT8_MAX, &value)) return std::string("bad ") + what + " '" + word + "' (decimal 0-255)";
    *out = static_cast<uint8_t>(value);
    return "";
}

// "none" stands for a message without sub-messages.
std::string ParseSubMsgList(const std::string& list, std::vector<SubMsgKind>* out) {
    if (list == "none") return "";
    std::istringstream items(list);
    std::string name;
    while (std::getline(items, name, ',')) {
        std::optional<SubMsgKind> kind = SubMsgKindByName(name);
        if (!kind) return "unknown sub-message kind '" + name + "' (one of " + SubMsgKindNames() + ", or none)";
        out->push_back(*kind);
    }
    if (out->empty() || list.back() == ',') return "bad sub-message list '" + list + "'";
    return "";
}

std::string ParseTag(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 4, 4, &w)) return "tag takes TAGID SEQ DELAY SUBMSGS";
    std::string error = ParseTagId(w[0], cmd);
    if (error.empty()) error = ParseByte(w[1], "sequence number", &cmd->seq);
    if (error.empty()) error = ParseByte(w[2], "delay count", &cmd->delayCount);
    if (error.empty()) error = ParseSubMsgList(w[3], &cmd->subMsgs);
    if (error.empty() && KindsTagMessage(*cmd->tagId, cmd->seq, cmd->delayCount, cmd->subMsgs).wire.empty()) {
        error = "the sub-messages do not fit in one frame";
    }
    return error;
}

std::string ParseBadTag(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 3, 3, &w)) return "badtag takes KIND TAGID SEQ";
    std::optional<MalformedKind> kind = MalformedKindByName(w[0]);
    if (!kind) return "unknown malformation '" + w[0] + "' (one of " + MalformedKindNames() + ")";
    cmd->malformed = *kind;
    std::string error = ParseTagId(w[1], cmd);
    return error.empty() ? ParseByte(w[2], "sequence number", &cmd->seq) : error;
}

std::string ParseTagRate(std::istringstream& words, ScriptCommand* cmd) {
    std::vector<std::string> w;
    if (!TakeWords(words, 1, 2, &w) || !ParseDecimal(w[0], kMaxTagRate, &cmd->number)) {
        return "tagrate takes messages a second (0-" + std::to_string(kMaxTagRate) + ") and an optional tag id";
    }
    return w.size() == 2 ? ParseTagId(w[1], cmd) : "";
}

std::string ParseStats(std::istringstream& words, ScriptCommand*) {
    std::vector<std::string> w;
    return TakeWords(words, 0, 0, &w) ? "" : "stats takes nothing";
}

std::string ParseDiag(std::istringstream& words, ScriptCommand*) {
    std::vector<std::string> w;
    return TakeWords(words, 0, 0, &w) ? "" : "diag takes nothing";
}

std::string ParseLoader(std::istringstream& words, ScriptCommand* cmd) {
    return ParseLoaderCommand(words, &cmd->loader);
}

struct Verb {
    const char* name;
    ScriptCommand::Kind kind;
    std::string (*parse)(std::istringstream&, ScriptCommand*);
};

// "forget" settles its kind while it reads its words.
const Verb kVerbs[] = {
    {"sleep", ScriptCommand::Kind::Sleep, ParseSleep},
    {"send", ScriptCommand::Kind::Send, ParseSend},
    {"reply", ScriptCommand::Kind::Reply, ParseReply},
    {"silent", ScriptCommand::Kind::Silent, ParseSilent},
    {"tags", ScriptCommand::Kind::Tags, ParseTags},
    {"delay", ScriptCommand::Kind::Delay, ParseDelay},
    {"never", ScriptCommand::Kind::Never, ParseOpcodeOnly},
    {"answer", ScriptCommand::Kind::Answer, ParseOpcodeOnly},
    {"forget", ScriptCommand::Kind::ForgetAll, ParseForget},
    {"paramcheck", ScriptCommand::Kind::ParamCheck, ParseParamCheck},
    {"tag", ScriptCommand::Kind::Tag, ParseTag},
    {"badtag", ScriptCommand::Kind::BadTag, ParseBadTag},
    {"tagrate", ScriptCommand::Kind::TagRate, ParseTagRate},
    {"stats", ScriptCommand::Kind::Stats, ParseStats},
    {"diag", ScriptCommand::Kind::Diag, ParseDiag},
    {"loader", ScriptCommand::Kind::Loader, ParseLoader},
};

}  // namespace

std::string ParseCommandLine(std::string line, ScriptCommand* cmd, bool* isCommand) {
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string verb;
    *isCommand = static_cast<bool>(words >> verb);
    if (!*isCommand) return "";
    for (const Verb& v : kVerbs) {
        if (verb != v.name) continue;
        cmd->kind = v.kind;
        return v.parse(words, cmd);
    }
    return "unknown command '" + verb + "'";
}

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
        std::string error = ParseCommandLine(line, &cmd, &isCommand);
        if (!error.empty()) {
            result.commands.clear();
            result.error = "line " + std::to_string(number) + ": " + error;
            return result;
        }
        if (isCommand) result.commands.push_back(std::move(cmd));
    }
    return result;
}
