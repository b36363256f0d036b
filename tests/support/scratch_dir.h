// A fresh directory for one test, removed with all it holds when the test is
// done; optionally the working directory meanwhile, for code that writes its
// files relative to it.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

class ScratchDir {
public:
    enum class Cwd { Keep, Enter };

    // The directory is "/tmp/" + prefix + six random characters.
    explicit ScratchDir(const std::string& prefix, Cwd cwd = Cwd::Keep) : path_(MakeDir(prefix)) {
        if (cwd == Cwd::Enter) {
            previousCwd_ = std::filesystem::current_path();
            std::filesystem::current_path(path_);
        }
    }

    ~ScratchDir() {
        std::error_code error;
        if (!previousCwd_.empty()) {
            std::filesystem::current_path(previousCwd_, error);
            EXPECT_FALSE(error) << "back to " << previousCwd_ << ": " << error.message();
        }
        std::filesystem::remove_all(path_, error);
        EXPECT_FALSE(error) << "removing " << path_ << ": " << error.message();
    }

    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path_; }

private:
    // Throws, so that a fixture holding it fails before its test runs.
    static std::string MakeDir(const std::string& prefix) {
        std::string pattern = "/tmp/" + prefix + "XXXXXX";
        if (!mkdtemp(pattern.data())) throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        return pattern;
    }

    std::string path_;
    std::filesystem::path previousCwd_;
};
