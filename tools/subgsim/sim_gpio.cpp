#include "tools/subgsim/sim_gpio.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>

std::optional<bool> ParseLineLevel(const std::string& content) {
    for (char c : content) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (c == '0') return false;
        if (c == '1') return true;
        return std::nullopt;
    }
    return std::nullopt;
}

ResetLineWatcher::ResetLineWatcher(std::string path) : path_(std::move(path)) {
    std::optional<bool> level = Read();
    if (level) high_ = *level;
}

std::optional<bool> ResetLineWatcher::Poll() {
    std::optional<bool> level = Read();
    if (!level || *level == high_) return std::nullopt;
    high_ = *level;
    return level;
}

std::optional<bool> ResetLineWatcher::Read() const {
    int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    char text[16];
    ssize_t n = read(fd, text, sizeof text);
    close(fd);
    if (n <= 0) return std::nullopt;
    return ParseLineLevel(std::string(text, static_cast<size_t>(n)));
}
