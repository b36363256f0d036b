#include "tools/rtcsim/rtc_commands.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "RtcCommandToReader.pb.h"
#include "RtcSetReaderParameters.pb.h"
#include "RtcSetTagsParameters.pb.h"
#include "backbone/envelope.h"

const char kRtcCommandHelp[] =
    "Commands, in a script or on the control FIFO ('#' starts a comment):\n"
    "  sleep MS                 wait before the next script line (script only)\n"
    "  pairack                  a pairing acknowledgement now, with the settings below\n"
    "  keepalive N|none         keep_alive_interval_seconds of later pairing acknowledgements\n"
    "  version A.B.C|none       ProtocolVersion of later pairing acknowledgements\n"
    "  clock now|now+MS|now-MS|MS\n"
    "                           rtc_timestamp of later pairing acknowledgements\n"
    "  persistack [INDEX..]     an acknowledgement of persisted data listing INDEX..\n"
    "  readerparams [FIELD=VALUE..] [generic=KEY:VALUE..]\n"
    "                           reader parameters; FIELD of ZemloReaderParametersInformation\n"
    "  tagparams [tags=ID,..] [FIELD=VALUE..] [| more entries]   or   tagparams none\n"
    "                           tag parameters; FIELD of RFTagParametersInformation;\n"
    "                           'none' sends no entry at all\n"
    "  command NAME|N           a command: None StartChannelSurvey CancelChannelSurvey\n"
    "                           ResetTagsDiagnostics ResetReaderDiagnostics SendTagDiagnostics\n"
    "                           SendReaderDiagnostics RunBIT RestartSubgBoard RestartTarnel\n"
    "                           AbortFirmwareUpdate, or their numbers 0-10\n"
    "  clocksync [now|now+MS|now-MS|MS]   a clock synchronisation (default now)\n"
    "  envelope N [HEX..]       an envelope of any number with these body bytes\n"
    "  raw HEX..                bytes on the stream as they are (garbage)\n"
    "  header N LENGTH          an envelope header alone, declaring LENGTH (up to 4294967295)\n"
    "  split MS CMD..           the bytes of CMD in two writes, MS apart\n"
    "  dribble MS CMD..         the bytes of CMD one at a time, MS apart\n"
    "  flood COUNT CMD..        CMD COUNT times (up to 1000000000) as fast as the reader takes\n"
    "                           them, each message with its own index; printed as FLOOD and\n"
    "                           FLOOD_DONE (or FLOOD_STOPPED when the connection goes) rather\n"
    "                           than one line each; a new flood replaces a running one\n"
    "  reset [CMD..]            reset the connection (RST, SO_LINGER 0): at once, or after\n"
    "                           writing the first half of CMD's bytes\n"
    "  pause [MS]               stop reading the stream, for MS or until resume; a reader that\n"
    "                           connects meanwhile is accepted and not read (a flood of\n"
    "                           persistack makes the reader write acknowledgements nobody reads)\n"
    "  resume                   read the stream again\n"
    "  close                    close the reader's connection\n"
    "  accept on|off|close      accept connections / leave them waiting / close each at once\n"
    "  listen on|off            open / close the listening socket (refuses connections)\n"
    "  broadcast                one discovery datagram now\n"
    "  broadcast every MS       a discovery datagram every MS (0 stops)\n"
    "  announce PORT|none|listening   rtc_readers_tcp_port of later datagrams\n"
    "  datagram HEX..           raw bytes as a datagram to the broadcast address\n"
    "  autoack pair|persist on|off    answer pairing / data packages by ourselves, or not\n"
    "  persist on|off           name each data package received in our acknowledgement, or\n"
    "                           none of them (withheld: the acknowledgement names nothing and\n"
    "                           a WITHHELD line gives the index)\n"
    "  persist skip INDEX..     withhold the next acknowledgement of each INDEX only\n"
    "  stats                    print the messages counted so far by kind\n"
    "MS, N, INDEX and ID are decimal; message fields take numbers, true/false, enumerator\n"
    "names and comma lists for repeated fields; a.b=V reaches into a sub-message.\n";

namespace {

constexpr uint32_t kMaxMs = 24u * 3600u * 1000u;
constexpr size_t kMaxBytes = 64 * 1024;

using Words = std::vector<std::string>;

bool ParseDecimal(const std::string& word, uint64_t max, uint64_t* out) {
    if (word.empty() || word.size() > 20 || word.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long value = std::strtoull(word.c_str(), nullptr, 10);
    if (errno != 0 || value > max) return false;
    *out = value;
    return true;
}

bool ParseU32(const std::string& word, uint32_t max, uint32_t* out) {
    uint64_t value = 0;
    if (!ParseDecimal(word, max, &value)) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

std::string ParseHex(const Words& words, size_t from, std::string* out) {
    for (size_t i = from; i < words.size(); ++i) {
        std::string w = words[i];
        if (w.size() > 2 && w[0] == '0' && (w[1] == 'x' || w[1] == 'X')) w.erase(0, 2);
        if (w.empty() || w.size() > 2 || !std::isxdigit(static_cast<unsigned char>(w[0])) ||
            !std::isxdigit(static_cast<unsigned char>(w.back()))) {
            return "bad hex byte '" + words[i] + "'";
        }
        if (out->size() == kMaxBytes) return "more than " + std::to_string(kMaxBytes) + " bytes";
        out->push_back(static_cast<char>(std::strtoul(w.c_str(), nullptr, 16)));
    }
    return "";
}

std::string ParseOnOff(const Words& w, RtcCommand* cmd) {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return w[0] + " takes on or off";
    cmd->number = w[1] == "on" ? 1 : 0;
    return "";
}

std::string ParseReaderParams(const Words& w, RtcCommand* cmd) {
    auto msg = std::make_shared<RtcSetReaderParameters>();
    Words fields;
    for (size_t i = 1; i < w.size(); ++i) {
        if (w[i].rfind("generic=", 0) != 0) {
            fields.push_back(w[i]);
            continue;
        }
        size_t colon = w[i].find(':');
        if (colon == std::string::npos) return "generic takes KEY:VALUE";
        auto* generic = msg->add_generic_params();
        generic->set_key(w[i].substr(8, colon - 8));
        generic->set_value(w[i].substr(colon + 1));
    }
    std::string error = SetFields(msg->mutable_reader_params_info(), fields);
    cmd->number = RTCSETREADERPARAM;
    cmd->message = msg;
    return error;
}

std::string ParseTagEntry(const Words& fields, RtcSetTagsParameters* msg) {
    auto* entry = msg->add_tags_params_info();
    Words params;
    for (const std::string& word : fields) {
        if (word.rfind("tags=", 0) == 0) {
            std::string error = SetFields(entry, {"tag_ids=" + word.substr(5)});
            if (!error.empty()) return error;
        } else {
            params.push_back(word);
        }
    }
    return SetFields(entry->mutable_tag_params_info(), params);
}

std::string ParseTagParams(const Words& w, RtcCommand* cmd) {
    auto msg = std::make_shared<RtcSetTagsParameters>();
    cmd->number = RTCSETTAGPARAM;
    cmd->message = msg;
    if (w.size() == 2 && w[1] == "none") return "";
    Words entry;
    for (size_t i = 1; i <= w.size(); ++i) {
        if (i < w.size() && w[i] != "|") {
            entry.push_back(w[i]);
            continue;
        }
        std::string error = ParseTagEntry(entry, msg.get());
        if (!error.empty()) return error;
        entry.clear();
    }
    return "";
}

std::string ParsePersistAck(const Words& w, RtcCommand* cmd) {
    auto msg = std::make_shared<RtcAcknowledgePersistedTagData>();
    for (size_t i = 1; i < w.size(); ++i) {
        uint64_t index = 0;
        if (!ParseDecimal(w[i], UINT64_MAX, &index)) return "bad index '" + w[i] + "'";
        msg->add_persisted_message_numbers(index);
    }
    cmd->number = RTCPERSISTACK;
    cmd->message = msg;
    return "";
}

std::string ParseCommandToReader(const Words& w, RtcCommand* cmd) {
    if (w.size() != 2) return "command takes one name or number";
    auto msg = std::make_shared<RtcCommandToReader>();
    cmd->number = RTCCOMMAND_FIELDNUM;
    cmd->message = msg;
    return SetFields(msg.get(), {"command=" + w[1]});
}

std::string ParseClock(const Words& w, RtcCommand* cmd) {
    if (w.size() > 2 || (w.size() == 1 && cmd->kind == RtcCommand::Kind::Clock)) {
        return w[0] + " takes now, now+MS, now-MS or MS";
    }
    if (w.size() == 2 && !ParseClockSetting(w[1], &cmd->clock)) return "bad time '" + w[1] + "'";
    return "";
}

std::string ParseOptionalNumber(const Words& w, RtcCommand* cmd) {
    if (w.size() != 2) return w[0] + " takes one value";
    if (w[1] == "none") return "";
    if (cmd->kind == RtcCommand::Kind::Announce && w[1] == "listening") {
        cmd->announceListening = true;
        return "";
    }
    uint32_t value = 0;
    if (!ParseU32(w[1], cmd->kind == RtcCommand::Kind::Announce ? 65535 : UINT32_MAX, &value)) {
        return "bad value '" + w[1] + "'";
    }
    cmd->value = value;
    return "";
}

std::string ParseEnvelopeLike(const Words& w, RtcCommand* cmd) {
    if (w.size() < 2 || !ParseU32(w[1], (1u << 28) - 1, &cmd->number)) return w[0] + " needs an envelope number";
    if (cmd->kind == RtcCommand::Kind::Envelope) return ParseHex(w, 2, &cmd->bytes);
    if (w.size() != 3 || !ParseU32(w[2], UINT32_MAX, &cmd->length)) return "header takes a number and a length";
    return "";
}

std::string ParseAccept(const Words& w, RtcCommand* cmd) {
    if (w.size() != 2) return "accept takes on, off or close";
    if (w[1] == "on")
        cmd->number = kAcceptOn;
    else if (w[1] == "off")
        cmd->number = kAcceptOff;
    else if (w[1] == "close")
        cmd->number = kAcceptClose;
    else
        return "accept takes on, off or close";
    return "";
}

std::string ParseBroadcast(const Words& w, RtcCommand* cmd) {
    if (w.size() == 1) return "";
    cmd->kind = RtcCommand::Kind::BroadcastEvery;
    if (w.size() != 3 || w[1] != "every" || !ParseU32(w[2], kMaxMs, &cmd->number)) {
        return "broadcast takes nothing or 'every MS'";
    }
    return "";
}

std::string ParseWords(const Words& w, RtcCommand* cmd);

// The command that flood and reset wrap: one that writes to the stream,
// whole.
std::string ParseWrapped(const std::string& name, const Words& inner, RtcCommand* cmd) {
    std::string error = ParseWords(inner, cmd);
    if (!error.empty()) return error;
    if (!cmd->WritesStream() || cmd->pacing != RtcCommand::Pacing::kWhole || cmd->floodCount > 0) {
        return name + " wraps a command that writes to the stream";
    }
    return "";
}

constexpr uint32_t kMaxFloodCount = 1000000000;

std::string ParseFlood(const Words& w, RtcCommand* cmd) {
    uint32_t count = 0;
    if (w.size() < 3 || !ParseU32(w[1], kMaxFloodCount, &count) || count == 0) {
        return "flood takes a count (1 to " + std::to_string(kMaxFloodCount) + ") and a command";
    }
    std::string error = ParseWrapped(w[0], Words(w.begin() + 2, w.end()), cmd);
    cmd->floodCount = count;
    return error;
}

std::string ParseReset(const Words& w, RtcCommand* cmd) {
    cmd->kind = RtcCommand::Kind::Reset;
    if (w.size() == 1) return "";
    std::string error = ParseWrapped(w[0], Words(w.begin() + 1, w.end()), cmd);
    cmd->pacing = RtcCommand::Pacing::kCutByReset;
    return error;
}

// split and dribble wrap another command that writes to the stream.
std::string ParsePaced(const Words& w, RtcCommand* cmd) {
    if (w.size() < 3 || !ParseU32(w[1], kMaxMs, &cmd->paceMs)) return w[0] + " takes MS and a command";
    RtcCommand::Pacing pacing = w[0] == "split" ? RtcCommand::Pacing::kSplit : RtcCommand::Pacing::kDribble;
    uint32_t paceMs = cmd->paceMs;
    std::string error = ParseWrapped(w[0], Words(w.begin() + 2, w.end()), cmd);
    if (!error.empty()) return error;
    cmd->pacing = pacing;
    cmd->paceMs = paceMs;
    return "";
}

std::string ParseWords(const Words& w, RtcCommand* cmd) {
    using Kind = RtcCommand::Kind;
    const std::string& name = w[0];
    auto bare = [&](Kind kind) -> std::string {
        cmd->kind = kind;
        return w.size() == 1 ? "" : name + " takes nothing";
    };
    if (name == "split" || name == "dribble") return ParsePaced(w, cmd);
    if (name == "flood") return ParseFlood(w, cmd);
    if (name == "reset") return ParseReset(w, cmd);
    if (name == "sleep" || name == "pause") {
        cmd->kind = name == "sleep" ? Kind::Sleep : Kind::Pause;
        bool ok = (w.size() == 2 && ParseU32(w[1], kMaxMs, &cmd->number)) || (w.size() == 1 && name == "pause");
        return ok ? "" : name + " takes milliseconds";
    }
    if (name == "pairack") return bare(Kind::PairAck);
    if (name == "resume") return bare(Kind::Resume);
    if (name == "close") return bare(Kind::Close);
    if (name == "stats") return bare(Kind::Stats);
    if (name == "keepalive" || name == "announce") {
        cmd->kind = name == "keepalive" ? Kind::KeepAlive : Kind::Announce;
        return ParseOptionalNumber(w, cmd);
    }
    if (name == "version") {
        cmd->kind = Kind::Version;
        if (w.size() == 2 && w[1] == "none") return "";
        ProtocolVersion version{};
        if (w.size() != 2 || !ParseProtocolVersion(w[1], &version)) return "version takes A.B.C or none";
        cmd->version = version;
        return "";
    }
    if (name == "clock" || name == "clocksync") {
        cmd->kind = name == "clock" ? Kind::Clock : Kind::ClockSync;
        return ParseClock(w, cmd);
    }
    cmd->kind = Kind::Message;
    if (name == "persistack") return ParsePersistAck(w, cmd);
    if (name == "readerparams") return ParseReaderParams(w, cmd);
    if (name == "tagparams") return ParseTagParams(w, cmd);
    if (name == "command") return ParseCommandToReader(w, cmd);
    if (name == "envelope" || name == "header") {
        cmd->kind = name == "envelope" ? Kind::Envelope : Kind::Header;
        return ParseEnvelopeLike(w, cmd);
    }
    if (name == "raw" || name == "datagram") {
        cmd->kind = name == "raw" ? Kind::Raw : Kind::Datagram;
        std::string error = ParseHex(w, 1, &cmd->bytes);
        return error.empty() && cmd->bytes.empty() ? name + " needs at least one byte" : error;
    }
    if (name == "accept" || name == "listen") {
        cmd->kind = name == "accept" ? Kind::Accept : Kind::Listen;
        return name == "accept" ? ParseAccept(w, cmd) : ParseOnOff(w, cmd);
    }
    if (name == "broadcast") {
        cmd->kind = Kind::Broadcast;
        return ParseBroadcast(w, cmd);
    }
    if (name == "persist") {
        cmd->kind = Kind::Persist;
        if (w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
            cmd->word = w[1];
            return "";
        }
        if (w.size() < 3 || w[1] != "skip") return "persist takes on, off or skip INDEX..";
        cmd->word = w[1];
        for (size_t i = 2; i < w.size(); ++i) {
            uint64_t index = 0;
            if (!ParseDecimal(w[i], UINT64_MAX, &index) || index == 0) return "bad index '" + w[i] + "'";
            cmd->indexes.push_back(index);
        }
        return "";
    }
    if (name == "autoack") {
        cmd->kind = Kind::AutoAck;
        if (w.size() != 3 || (w[1] != "pair" && w[1] != "persist")) return "autoack takes pair|persist on|off";
        cmd->word = w[1];
        return ParseOnOff(Words(w.begin() + 1, w.end()), cmd);
    }
    return "unknown command '" + name + "'";
}

}  // namespace

bool RtcCommand::WritesStream() const {
    switch (kind) {
        case Kind::PairAck:
        case Kind::Message:
        case Kind::ClockSync:
        case Kind::Envelope:
        case Kind::Raw:
        case Kind::Header: return true;
        default: return false;
    }
}

std::string ParseRtcCommand(const std::string& line, RtcCommand* cmd, bool* isCommand) {
    std::istringstream in(line.substr(0, line.find('#')));
    Words words;
    std::string word;
    while (in >> word) words.push_back(word);
    *isCommand = !words.empty();
    if (words.empty()) return "";
    return ParseWords(words, cmd);
}

RtcScript ParseRtcScript(const std::string& text) {
    RtcScript script;
    std::istringstream in(text);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        RtcCommand cmd;
        bool isCommand = false;
        std::string error = ParseRtcCommand(line, &cmd, &isCommand);
        if (!error.empty()) {
            script.error = "line " + std::to_string(number) + ": " + error;
            script.commands.clear();
            return script;
        }
        if (!isCommand) continue;
        cmd.line = number;
        script.commands.push_back(cmd);
    }
    return script;
}
