#include "platform/text_line.h"

namespace {

// Bounds the read-away of an over-long line on an endless stream.
constexpr int kMaxDroppedInput = 1 << 20;

// Reads away the rest of a line that did not fit; false when there was
// none: the line ended with the stream, exactly at the bound.
bool DroppedRestOfLine(FILE* in) {
    int c = std::fgetc(in);
    if (c == EOF) return false;
    for (int i = 0; i < kMaxDroppedInput && c != '\n' && c != EOF; ++i) c = std::fgetc(in);
    return true;
}

}  // namespace

// Character by character rather than fgets: fgets gives no length, so a NUL
// byte would end the line early and the "\n" after it would look missing.
TextLine ReadTextLine(FILE* in, size_t maxChars, std::string* line) {
    line->clear();
    for (size_t n = 0; n < maxChars; ++n) {
        const int c = std::fgetc(in);
        if (c == EOF) return n == 0 ? TextLine::End : TextLine::Read;
        if (c == '\n') return TextLine::Read;
        line->push_back(static_cast<char>(c));
    }
    return DroppedRestOfLine(in) ? TextLine::TooLong : TextLine::Read;
}

bool HasNulByte(const std::string& line) { return line.find('\0') != std::string::npos; }
