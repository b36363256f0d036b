#include "tools/rtcsim/rtc_messages.h"

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>
#include <sys/time.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "RtcClockSync.pb.h"
#include "RtcDiscoverZemloReadersBroadcast.pb.h"
#include "RtcPairingACK.pb.h"
#include "ZemloMessageHeader.pb.h"
#include "tools/rtcsim/rtc_stream.h"

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

namespace {

bool ParseU64(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || value > max) return false;
    *out = value;
    return true;
}

bool ParseI64(const std::string& text, int64_t min, int64_t max, int64_t* out) {
    bool negative = !text.empty() && text[0] == '-';
    uint64_t magnitude = 0;
    if (!ParseU64(negative ? text.substr(1) : text, UINT64_MAX, &magnitude)) return false;
    if (negative ? magnitude > static_cast<uint64_t>(-(min + 1)) + 1 : magnitude > static_cast<uint64_t>(max)) {
        return false;
    }
    *out = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
}

bool ParseDouble(const std::string& text, double* out) {
    errno = 0;
    char* end = nullptr;
    *out = std::strtod(text.c_str(), &end);
    return errno == 0 && !text.empty() && *end == '\0';
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> items;
    std::istringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) items.push_back(item);
    return items;
}

// One scalar value into a singular or repeated field.
bool SetScalar(Message* msg, const FieldDescriptor* f, const std::string& text) {
    const Reflection* r = msg->GetReflection();
    const bool rep = f->is_repeated();
    uint64_t u = 0;
    int64_t i = 0;
    double d = 0;
    switch (f->cpp_type()) {
        case FieldDescriptor::CPPTYPE_UINT32:
            if (!ParseU64(text, UINT32_MAX, &u)) return false;
            rep ? r->AddUInt32(msg, f, static_cast<uint32_t>(u)) : r->SetUInt32(msg, f, static_cast<uint32_t>(u));
            return true;
        case FieldDescriptor::CPPTYPE_UINT64:
            if (!ParseU64(text, UINT64_MAX, &u)) return false;
            rep ? r->AddUInt64(msg, f, u) : r->SetUInt64(msg, f, u);
            return true;
        case FieldDescriptor::CPPTYPE_INT32:
            if (!ParseI64(text, INT32_MIN, INT32_MAX, &i)) return false;
            rep ? r->AddInt32(msg, f, static_cast<int32_t>(i)) : r->SetInt32(msg, f, static_cast<int32_t>(i));
            return true;
        case FieldDescriptor::CPPTYPE_INT64:
            if (!ParseI64(text, INT64_MIN, INT64_MAX, &i)) return false;
            rep ? r->AddInt64(msg, f, i) : r->SetInt64(msg, f, i);
            return true;
        case FieldDescriptor::CPPTYPE_FLOAT:
        case FieldDescriptor::CPPTYPE_DOUBLE:
            if (!ParseDouble(text, &d)) return false;
            if (f->cpp_type() == FieldDescriptor::CPPTYPE_FLOAT) {
                rep ? r->AddFloat(msg, f, static_cast<float>(d)) : r->SetFloat(msg, f, static_cast<float>(d));
            } else {
                rep ? r->AddDouble(msg, f, d) : r->SetDouble(msg, f, d);
            }
            return true;
        case FieldDescriptor::CPPTYPE_BOOL:
            if (text != "true" && text != "false") return false;
            rep ? r->AddBool(msg, f, text == "true") : r->SetBool(msg, f, text == "true");
            return true;
        case FieldDescriptor::CPPTYPE_ENUM: {
            const auto* value = f->enum_type()->FindValueByName(text);
            if (!value && ParseI64(text, INT32_MIN, INT32_MAX, &i))
                value = f->enum_type()->FindValueByNumber(static_cast<int>(i));
            if (!value) return false;
            rep ? r->AddEnum(msg, f, value) : r->SetEnum(msg, f, value);
            return true;
        }
        case FieldDescriptor::CPPTYPE_STRING:
            rep ? r->AddString(msg, f, text) : r->SetString(msg, f, text);
            return true;
        default: return false;
    }
}

std::string SetField(Message* msg, const std::string& word) {
    size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) return "'" + word + "' is not field=value";
    std::string path = word.substr(0, eq);
    const std::string value = word.substr(eq + 1);
    // A dotted path walks down sub-messages, creating them as it goes.
    for (size_t dot = path.find('.'); dot != std::string::npos; dot = path.find('.')) {
        const FieldDescriptor* f = msg->GetDescriptor()->FindFieldByName(path.substr(0, dot));
        if (!f || f->cpp_type() != FieldDescriptor::CPPTYPE_MESSAGE || f->is_repeated()) {
            return "no sub-message '" + path.substr(0, dot) + "' in " + msg->GetDescriptor()->name();
        }
        msg = msg->GetReflection()->MutableMessage(msg, f);
        path.erase(0, dot + 1);
    }
    const FieldDescriptor* f = msg->GetDescriptor()->FindFieldByName(path);
    if (!f || f->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
        return "no field '" + path + "' with a plain value in " + msg->GetDescriptor()->name();
    }
    for (const std::string& item : f->is_repeated() ? SplitCommas(value) : std::vector<std::string>{value}) {
        if (!SetScalar(msg, f, item)) return "bad value '" + item + "' for " + path;
    }
    return "";
}

}  // namespace

uint64_t NowMs() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u;
}

uint64_t ClockSetting::At(uint64_t nowMs) const {
    return fromNow ? nowMs + static_cast<uint64_t>(ms) : static_cast<uint64_t>(ms);
}

bool ParseClockSetting(const std::string& text, ClockSetting* out) {
    ClockSetting clock;
    if (text == "now") {
        *out = clock;
        return true;
    }
    uint64_t value = 0;
    const uint64_t maxOffset = 100ull * 365 * 24 * 3600 * 1000;  // a century either way
    if (text.rfind("now+", 0) == 0 || text.rfind("now-", 0) == 0) {
        if (!ParseU64(text.substr(4), maxOffset, &value)) return false;
        clock.ms = text[3] == '+' ? static_cast<int64_t>(value) : -static_cast<int64_t>(value);
    } else {
        if (!ParseU64(text, INT64_MAX, &value)) return false;
        clock.fromNow = false;
        clock.ms = static_cast<int64_t>(value);
    }
    *out = clock;
    return true;
}

bool ParseProtocolVersion(const std::string& text, ProtocolVersion* out) {
    std::istringstream in(text);
    std::string part;
    size_t n = 0;
    ProtocolVersion version{};
    while (std::getline(in, part, '.')) {
        uint64_t value = 0;
        if (n == 3 || !ParseU64(part, UINT32_MAX, &value)) return false;
        version[n++] = static_cast<uint32_t>(value);
    }
    if (n != 3) return false;
    *out = version;
    return true;
}

std::string PairingAckEnvelope(const PairingAnswer& answer, uint64_t nowMs) {
    RtcPairingACK ack;
    if (answer.keepAliveSeconds) ack.set_keep_alive_interval_seconds(*answer.keepAliveSeconds);
    ack.set_rtc_timestamp(answer.clock.At(nowMs));
    if (answer.protocolVersion) {
        ack.mutable_protocolversion()->set_major((*answer.protocolVersion)[0]);
        ack.mutable_protocolversion()->set_minor((*answer.protocolVersion)[1]);
        ack.mutable_protocolversion()->set_build((*answer.protocolVersion)[2]);
    }
    return Frame(RTCPAIRACK, ack);
}

std::string ClockSyncEnvelope(uint64_t rtcMs) {
    RtcClockSync sync;
    sync.set_rtc_timestamp(rtcMs);
    return Frame(RTCCLOCKSYNC, sync);
}

std::string DiscoveryDatagram(const std::string& ip, std::optional<uint32_t> tcpPort) {
    RtcDiscoverZemloReadersBroadcast broadcast;
    broadcast.set_rtc_ip_address(ip);
    if (tcpPort) broadcast.set_rtc_readers_tcp_port(*tcpPort);
    return Frame(RTCDISCOVER, broadcast);
}

void StampHeader(Message* msg, uint64_t index, uint64_t nowMs) {
    const FieldDescriptor* f = msg->GetDescriptor()->FindFieldByName("message_header");
    if (!f || f->message_type() != ZemloMessageHeader::descriptor()) return;
    auto* header = static_cast<ZemloMessageHeader*>(msg->GetReflection()->MutableMessage(msg, f));
    header->set_message_index(index);
    header->set_send_timestamp(nowMs);
}

std::string SetFields(Message* msg, const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        std::string error = SetField(msg, word);
        if (!error.empty()) return error;
    }
    return "";
}
