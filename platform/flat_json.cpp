#include "platform/flat_json.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

// Quotes and backslashes escaped, and every byte outside printable ASCII
// as \u00XX, so that the file is valid JSON whatever bytes a log line
// carried, and a read gives those bytes back.
std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

void AppendUtf8(unsigned code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | code >> 6);
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | code >> 12);
        *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    bool Object(std::vector<FlatJsonField>* fields) {
        if (!Take('{')) return false;
        if (!Take('}')) {
            do {
                FlatJsonField field;
                if (!String(&field.key) || !Take(':') || !Value(&field)) return false;
                fields->push_back(std::move(field));
            } while (Take(','));
            if (!Take('}')) return false;
        }
        SkipSpace();
        return at_ == text_.size();
    }

private:
    void SkipSpace() {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) != nullptr) ++at_;
    }

    bool Take(char c) {
        SkipSpace();
        if (at_ >= text_.size() || text_[at_] != c) return false;
        ++at_;
        return true;
    }

    bool Value(FlatJsonField* field) {
        SkipSpace();
        field->isText = at_ < text_.size() && text_[at_] == '"';
        if (field->isText) return String(&field->value);
        const size_t start = at_;
        while (at_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[at_])) || text_[at_] == '-' ||
                                      text_[at_] == '+' || text_[at_] == '.'))
            ++at_;
        field->value = text_.substr(start, at_ - start);
        return at_ > start;
    }

    bool String(std::string* out) {
        if (!Take('"')) return false;
        while (at_ < text_.size()) {
            const unsigned char c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') return true;
            if (c < 0x20) return false;
            if (c != '\\') {
                *out += static_cast<char>(c);
            } else if (!Escape(out)) {
                return false;
            }
        }
        return false;
    }

    // After a backslash. \u00XX gives the byte XX back; a higher code its
    // UTF-8.
    bool Escape(std::string* out) {
        if (at_ >= text_.size()) return false;
        const char c = text_[at_++];
        static const char kFrom[] = "\"\\/bfnrt";
        static const char kTo[] = "\"\\/\b\f\n\r\t";
        if (const char* p = std::strchr(kFrom, c); p != nullptr && c != '\0') {
            *out += kTo[p - kFrom];
            return true;
        }
        if (c != 'u' || at_ + 4 > text_.size()) return false;
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[at_++];
            if (!std::isxdigit(static_cast<unsigned char>(h))) return false;
            code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0'
                                                                                                 : (h | 0x20) - 'a' + 10);
        }
        if (code < 0x100) {
            *out += static_cast<char>(code);
        } else {
            AppendUtf8(code, out);
        }
        return true;
    }

    const std::string& text_;
    size_t at_ = 0;
};

}  // namespace

void FlatJsonWriter::Field(const char* key, const std::string& valueText) {
    if (!body_.empty()) body_ += ",\n";
    body_ += "  " + Quoted(key) + ": " + valueText;
}

void FlatJsonWriter::Text(const char* key, const std::string& value) { Field(key, Quoted(value)); }
void FlatJsonWriter::Number(const char* key, long long value) { Field(key, std::to_string(value)); }
void FlatJsonWriter::Bool(const char* key, bool value) { Field(key, value ? "true" : "false"); }
void FlatJsonWriter::Null(const char* key) { Field(key, "null"); }

std::string FlatJsonWriter::Finish() const { return "{\n" + body_ + "\n}\n"; }

bool ParseFlatJson(const std::string& text, std::vector<FlatJsonField>* fields) {
    fields->clear();
    return Reader(text).Object(fields);
}
