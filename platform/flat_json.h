// A JSON object of one level, one field a line: keys with a text, a whole
// number, true, false or null. Enough for a status file that tools and
// people read; every byte of a text survives a write and a read.
#pragma once

#include <string>
#include <vector>

class FlatJsonWriter {
public:
    void Text(const char* key, const std::string& value);
    void Number(const char* key, long long value);
    void Bool(const char* key, bool value);
    void Null(const char* key);
    // The object, with its line end.
    std::string Finish() const;

private:
    void Field(const char* key, const std::string& valueText);
    std::string body_;
};

struct FlatJsonField {
    std::string key;
    std::string value;  // a text unescaped, anything else as written: "12", "true", "null"
    bool isText;
};

// False for what is not such an object.
bool ParseFlatJson(const std::string& text, std::vector<FlatJsonField>* fields);
