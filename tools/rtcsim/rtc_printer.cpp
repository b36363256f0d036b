#include "tools/rtcsim/rtc_printer.h"

#include <google/protobuf/util/json_util.h>
#include <time.h>

#include <set>

#include "RtcAcknowledgePersistedTagData.pb.h"
#include "RtcClockSync.pb.h"
#include "RtcCommandToReader.pb.h"
#include "RtcDiscoverZemloReadersBroadcast.pb.h"
#include "RtcPairingACK.pb.h"
#include "RtcSetReaderParameters.pb.h"
#include "RtcSetTagsParameters.pb.h"
#include "ZemloChannelSurveyProgressUpdate.pb.h"
#include "ZemloMessageACK.pb.h"
#include "ZemloReaderDataPackage.pb.h"
#include "ZemloReaderPairing.pb.h"
#include "backbone/envelope.h"
#include "tools/subgsim/sim_events.h"

using google::protobuf::Message;

namespace {

constexpr size_t kMaxHexShown = 64;

double MonotonicSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Milliseconds since the epoch as UTC text, e.g. 2024-05-01T12:00:00.123Z.
std::string UtcMs(uint64_t ms) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    tm t{};
    if (!gmtime_r(&seconds, &t)) return std::to_string(ms);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03uZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec, static_cast<unsigned>(ms % 1000));
    return text;
}

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string Hex(const std::string& bytes) {
    size_t n = std::min(bytes.size(), kMaxHexShown);
    return HexBytes(reinterpret_cast<const uint8_t*>(bytes.data()), n) + (bytes.size() > n ? " .." : "");
}

std::string HeaderText(const ZemloMessageHeader& header) {
    std::string text = "index=" + (header.has_message_index() ? std::to_string(header.message_index()) : "-");
    if (header.has_send_timestamp()) text += " sent=" + UtcMs(header.send_timestamp());
    return text;
}

// The counters as the reader's ReaderDiag log shows them; rssi_noise is a
// level in dBm sent as its 32-bit two's complement.
std::string ReaderDiagSummary(const ZemloReaderDiagnosticsInformation& d) {
    return " +reader_diag_info(intr_comm=" + std::to_string(d.internal_communication_failure_count()) +
           " rtc_sock_min=" + std::to_string(d.rtc_socket_disconnection_time_counter()) +
           " no_conn_min=" + std::to_string(d.overall_no_connection_time()) +
           " rssi=" + std::to_string(static_cast<int32_t>(d.rssi_noise())) +
           " no_tag_tx=" + std::to_string(d.no_tag_transmission_time()) +
           " app_crash=" + std::to_string(static_cast<int32_t>(d.user_space_application_crash_counter())) +
           " subg_reset=" + std::to_string(d.subg_board_application_reset_counter()) +
           " total_pack=" + std::to_string(d.total_packets_received()) +
           " subg_err=" + std::to_string(d.subg_errors()) +
           " invalid_frmt=" + std::to_string(d.invalid_tag_message_format()) +
           " fifo_of=" + std::to_string(d.subg_radio_rx_tx_buffer_overflow()) +
           " collisions=" + std::to_string(d.collision_count()) +
           " foreign=" + std::to_string(d.foreign_tag_counter()) +
           " ignored=" + std::to_string(d.ignored_or_nack_per_tag()) +
           " temp=" + std::to_string(d.average_temperature()) + ")";
}

std::string ReaderParamsSummary(const ZemloReaderParametersInformation& p) {
    char freq[32];
    std::snprintf(freq, sizeof freq, "%.3f", p.radio_frequency());
    std::string text = " +reader_params_info(subg=" + std::to_string(p.subg_application_version()) +
                       " app=" + std::to_string(p.user_space_application_version()) +
                       " openwrt=" + std::to_string(p.openwrt_version()) + " reader=" + p.reader_identifier() +
                       " channel=" + std::to_string(p.working_channel()) + " freq=" + freq +
                       " diag_min=" + std::to_string(p.diagnostics_sending_interval()) +
                       " bit=" + std::to_string(p.bit_running_interval()) +
                       " keep_alive=" + std::to_string(static_cast<int32_t>(p.keep_alive_interval())) +
                       " scan_min=" + std::to_string(p.channel_scanning_interval());
    text += p.has_rf_region() ? " region=" + RFRegionEnum::RFRegion_Name(p.rf_region()) : " region=-";
    return text + " versions=" + std::to_string(p.extra_info().size()) + "B)";
}

// Each channel as number@MHz:readings[first..last].
std::string SurveyResultsSummary(const ZemloChannelSurveyResults& r) {
    std::string text = " +channel_survey_results(" + std::to_string(r.all_channels_rssi_results_size());
    for (const auto& channel : r.all_channels_rssi_results()) {
        char head[48];
        std::snprintf(head, sizeof head, " %u@%.3f:%d", channel.channel_index(), channel.channel_frequency(),
                      channel.rssi_readings_size());
        text += head;
        if (channel.rssi_readings_size() > 0) {
            text += "[" + std::to_string(channel.rssi_readings(0)) + ".." +
                    std::to_string(channel.rssi_readings(channel.rssi_readings_size() - 1)) + "]";
        }
    }
    return text + ")";
}

std::string SurveyProgressSummary(const ZemloChannelSurveyProgressUpdate& p) {
    std::string text = p.has_message_header() ? HeaderText(p.message_header()) : "index=-";
    return text + " channel=" + std::to_string(p.channel_number()) + "/" + std::to_string(p.total_channels()) +
           " channel_progress=" + std::to_string(p.channel_scan_progress()) +
           "% survey_progress=" + std::to_string(p.survey_progress()) + "%";
}

std::string DataPackageSummary(const ZemloReaderDataPackage& p) {
    std::string text = p.has_message_header() ? HeaderText(p.message_header()) : "index=-";
    if (p.has_package_timestamp()) text += " package=" + UtcMs(p.package_timestamp());
    int activity = 0, join = 0, diag = 0, params = 0;
    std::set<uint32_t> tags;
    for (const RFTagDataPackage& record : p.tags_data()) {
        tags.insert(record.tag_id());
        activity += record.has_activity_data();
        join += record.has_join_message();
        diag += record.has_diag_info();
        params += record.has_params_info();
    }
    text += " records=" + std::to_string(p.tags_data_size());
    if (!tags.empty()) {
        text += " tags=" + std::to_string(tags.size()) + " activity=" + std::to_string(activity) +
                " join=" + std::to_string(join) + " diag=" + std::to_string(diag) + " params=" + std::to_string(params);
    }
    if (p.has_reader_diag_info()) text += ReaderDiagSummary(p.reader_diag_info());
    if (p.has_reader_bit_results()) text += " +reader_bit_results";
    if (p.has_reader_params_info()) text += ReaderParamsSummary(p.reader_params_info());
    if (p.has_channel_survey_results()) text += SurveyResultsSummary(p.channel_survey_results());
    return text;
}

std::string PairingSummary(const ZemloReaderPairing& p) {
    char mac[32];
    std::snprintf(mac, sizeof mac, "0x%012llx", static_cast<unsigned long long>(p.reader_mac_address()));
    return p.has_reader_mac_address() ? std::string("reader_mac_address=") + mac : "reader_mac_address=-";
}

}  // namespace

std::unique_ptr<Message> NewMessageFor(uint32_t number) {
    switch (number) {
        case RTCDISCOVER: return std::make_unique<RtcDiscoverZemloReadersBroadcast>();
        case READERPAIRING: return std::make_unique<ZemloReaderPairing>();
        case READERDATAPACKAGE: return std::make_unique<ZemloReaderDataPackage>();
        case RTCPAIRACK: return std::make_unique<RtcPairingACK>();
        case RTCPERSISTACK: return std::make_unique<RtcAcknowledgePersistedTagData>();
        case READERMSGACK: return std::make_unique<ZemloMessageACK>();
        case RTCSETREADERPARAM: return std::make_unique<RtcSetReaderParameters>();
        case RTCSETTAGPARAM: return std::make_unique<RtcSetTagsParameters>();
        case SURVEYPROGRESS: return std::make_unique<ZemloChannelSurveyProgressUpdate>();
        case RTCCOMMAND_FIELDNUM: return std::make_unique<RtcCommandToReader>();
        case RTCCLOCKSYNC: return std::make_unique<RtcClockSync>();
        default: return nullptr;
    }
}

std::string KindName(uint32_t number, const Message* parsed) {
    switch (number) {
        case RTCDISCOVER: return "RTCDISCOVER";
        case READERPAIRING: return "READERPAIRING";
        case READERDATAPACKAGE: {
            auto* p = dynamic_cast<const ZemloReaderDataPackage*>(parsed);
            return p && p->message_header().message_index() == 0 ? "KEEPALIVE" : "READERDATAPACKAGE";
        }
        case RTCPAIRACK: return "RTCPAIRACK";
        case RTCPERSISTACK: return "RTCPERSISTACK";
        case READERMSGACK: return "READERMSGACK";
        case RTCSETREADERPARAM: return "RTCSETREADERPARAM";
        case RTCSETTAGPARAM: return "RTCSETTAGPARAM";
        case SURVEYPROGRESS: return "SURVEYPROGRESS";
        case RTCCOMMAND_FIELDNUM: return "RTCCOMMAND";
        case RTCCLOCKSYNC: return "RTCCLOCKSYNC";
        default: return "UNKNOWN" + std::to_string(number);
    }
}

std::string Summary(uint32_t number, const Message& msg) {
    if (number == READERDATAPACKAGE) return DataPackageSummary(static_cast<const ZemloReaderDataPackage&>(msg));
    if (number == READERPAIRING) return PairingSummary(static_cast<const ZemloReaderPairing&>(msg));
    if (number == SURVEYPROGRESS) {
        return SurveyProgressSummary(static_cast<const ZemloChannelSurveyProgressUpdate&>(msg));
    }
    std::string text;
    if (auto* ack = dynamic_cast<const ZemloMessageACK*>(&msg)) {
        text = "ack_message_index=" + std::to_string(ack->ack_message_index());
        return ack->has_send_timestamp() ? text + " sent=" + UtcMs(ack->send_timestamp()) : text;
    }
    if (auto* pair = dynamic_cast<const RtcPairingACK*>(&msg); pair && pair->has_rtc_timestamp()) {
        text = "rtc_time=" + UtcMs(pair->rtc_timestamp()) + " ";
    }
    if (auto* sync = dynamic_cast<const RtcClockSync*>(&msg); sync && sync->has_rtc_timestamp()) {
        text = "rtc_time=" + UtcMs(sync->rtc_timestamp()) + " ";
    }
    return text + msg.ShortDebugString();
}

Printer::Printer(FILE* screen, FILE* file, bool json, const std::string& label, bool monotonicTimes)
    : screen_(screen),
      file_(file),
      json_(json),
      label_(label.empty() ? "" : label + " "),
      start_(monotonicTimes ? 0 : MonotonicSeconds()) {}

void Printer::Envelope(Direction direction, uint32_t number, const std::string& body) {
    std::unique_ptr<Message> msg = NewMessageFor(number);
    const bool parsed = msg && msg->ParseFromString(body);
    const std::string kind = KindName(number, parsed ? msg.get() : nullptr);
    const bool received = direction == Direction::kReceived;
    ++(received ? received_ : sent_)[kind];
    std::string readable = std::string(received ? "RECV " : "SENT ") + kind;
    std::string json = std::string("\"dir\":") + (received ? "\"recv\"" : "\"sent\"") +
                       ",\"envelope\":" + std::to_string(number) + ",\"kind\":" + JsonQuote(kind) +
                       ",\"bytes\":" + std::to_string(body.size());
    std::string messageJson;
    google::protobuf::util::JsonPrintOptions options;
    options.preserve_proto_field_names = true;
    if (parsed && google::protobuf::util::MessageToJsonString(*msg, &messageJson, options).ok()) {
        readable += " " + Summary(number, *msg);
        json += ",\"message\":" + messageJson;
    } else {
        readable += " unparsed len=" + std::to_string(body.size()) + " bytes=" + Hex(body);
        json += ",\"parsed\":false,\"hex\":" + JsonQuote(Hex(body));
    }
    Emit(readable, json);
}

void Printer::Event(const std::string& name, const Fields& fields) {
    std::string readable = name;
    std::string json = "\"event\":" + JsonQuote(name);
    for (const auto& [key, value] : fields) {
        readable += " " + key + "=" + value;
        json += "," + JsonQuote(key) + ":" + JsonQuote(value);
    }
    Emit(readable, json);
}

void Printer::Stats(const Fields& extra) {
    Fields fields;
    for (const auto& [kind, count] : received_) fields.emplace_back("recv." + kind, std::to_string(count));
    for (const auto& [kind, count] : sent_) fields.emplace_back("sent." + kind, std::to_string(count));
    fields.insert(fields.end(), extra.begin(), extra.end());
    Event("STATS", fields);
}

std::string Printer::Time() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", MonotonicSeconds() - start_);
    return text;
}

void Printer::Emit(const std::string& readable, const std::string& json) {
    const std::string line = json_ ? "{\"t\":" + Time() + "," + json + "}\n" : Time() + " " + readable + "\n";
    if (screen_) {
        std::fputs((label_ + line).c_str(), screen_);
        std::fflush(screen_);
    }
    if (file_) {
        std::fputs(line.c_str(), file_);
        std::fflush(file_);
    }
}
