#include "tools/subgsim/sim_control.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::vector<LineSplitter::Line> LineSplitter::Feed(const char* bytes, size_t n) {
    std::vector<Line> lines;
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] != '\n') {
            if (partial_.size() < kMaxLine) {
                partial_ += bytes[i];
            } else {
                tooLong_ = true;
            }
            continue;
        }
        if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
        lines.push_back({partial_, tooLong_});
        partial_.clear();
        tooLong_ = false;
    }
    return lines;
}

std::string PrintableLine(const std::string& line) {
    size_t first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    size_t last = line.find_last_not_of(" \t\r");
    std::string text = line.substr(first, last - first + 1);
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    }
    return text;
}

ControlFifo::~ControlFifo() {
    if (readFd_ >= 0) close(readFd_);
    if (writeFd_ >= 0) close(writeFd_);
    struct stat st{};
    if (!path_.empty() && lstat(path_.c_str(), &st) == 0 && st.st_dev == dev_ && st.st_ino == ino_) {
        unlink(path_.c_str());
    }
}

// A FIFO left behind by a run that was killed is taken over; any other
// file at the path is left alone.
std::string ControlFifo::Open(const std::string& path) {
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) return path + " exists and is not a FIFO";
        unlink(path.c_str());
    }
    if (mkfifo(path.c_str(), 0600) != 0) return "mkfifo " + path + ": " + std::strerror(errno);
    readFd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    // Holding a writer open ourselves means the last outside writer's close
    // never turns the FIFO into an endless end-of-file.
    writeFd_ = readFd_ >= 0 ? open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (readFd_ < 0 || writeFd_ < 0 || fstat(readFd_, &st) != 0) {
        std::string error = "open " + path + ": " + std::strerror(errno);
        unlink(path.c_str());
        return error;
    }
    path_ = path;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    return "";
}
