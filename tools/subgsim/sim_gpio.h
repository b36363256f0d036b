// The board's reset line as the host drives it: a sysfs-style value file.
#pragma once

#include <optional>
#include <string>

// The level a value file's content stands for: '0' low, '1' high, anything
// else (empty, half-written) no level at all.
std::optional<bool> ParseLineLevel(const std::string& content);

class ResetLineWatcher {
public:
    // Takes the file's level at start-up as the baseline; a missing or empty
    // file counts as high, the level of a running board.
    explicit ResetLineWatcher(std::string path);

    // The new level when the file's level changed since the last call.
    std::optional<bool> Poll();

private:
    std::optional<bool> Read() const;

    std::string path_;
    bool high_ = true;
};
