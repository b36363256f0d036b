#include "app/log_limits.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

// The product's sources with adjacent string literals joined, as the
// compiler joins them.
std::string ProductSources() {
    static const std::regex literalBreak("\"\\s+\"");
    std::string all;
    for (const char* folder : {"app", "platform", "subg", "params", "tags", "subgconfig", "upgrade", "backbone",
                               "console"}) {
        const std::string dir = std::string(TARNEL_SOURCE_DIR) + "/" + folder;
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) continue;
        while (dirent* entry = readdir(d)) {
            const std::string name = entry->d_name;
            if (name == "log_limits.cpp" || name.size() < 3) continue;
            const std::string ext = name.substr(name.rfind('.') + 1);
            if (ext != "cpp" && ext != "h") continue;
            std::ostringstream text;
            text << std::ifstream(dir + "/" + name).rdbuf();
            all += std::regex_replace(text.str(), literalBreak, "");
        }
        closedir(d);
    }
    return all;
}

// A text changed at its call site and not in the list would flood the log
// again unnoticed.
TEST(LogLimits, EveryListedTextIsALiteralOfTheProduct) {
    const std::string sources = ProductSources();
    ASSERT_GT(sources.size(), 100000u);
    for (size_t i = 0; i < kRateLimitedLogTextCount; ++i) {
        std::string literal = "\"";
        for (const char* p = kRateLimitedLogTexts[i]; *p; ++p) literal += *p == '\n' ? std::string("\\n") : std::string(1, *p);
        literal += "\"";
        EXPECT_NE(sources.find(literal), std::string::npos) << literal;
    }
}

}  // namespace
