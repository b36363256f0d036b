// Bounded reading of one text line from a stream, for the files a technician
// or a power cut leaves behind and for the console's standard input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

enum class TextLine { Read, TooLong, End };

// Reads one line of at most maxChars characters, its line end counted, into
// *line without the "\n". A longer line gives its first maxChars characters
// and TooLong; its rest is read away (bounded), so that it never counts as
// the next line. NUL bytes, as a zero-filled block after a power cut leaves
// them, are kept in *line: they neither end the line nor hide its line end.
// End when the stream has ended (or failed) before any character.
TextLine ReadTextLine(FILE* in, size_t maxChars, std::string* line);

// True when the line holds a NUL byte, the mark of a damaged file.
bool HasNulByte(const std::string& line);
