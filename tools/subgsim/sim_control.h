// The control FIFO: a named pipe whose lines steer a running simulator.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Cuts the FIFO's bytes into lines. A line longer than kMaxLine is cut
// down and marked, so that a writer gone wild cannot grow the buffer.
class LineSplitter {
public:
    static constexpr size_t kMaxLine = 1024;

    struct Line {
        std::string text;
        bool tooLong = false;
    };

    std::vector<Line> Feed(const char* bytes, size_t n);

private:
    std::string partial_;
    bool tooLong_ = false;
};

// The line as it may stand in a record: without surrounding blanks, and
// with every control byte shown as '?'.
std::string PrintableLine(const std::string& line);

// Creates the FIFO and opens it without blocking; removes it when done
// with, unless another file has taken its place meanwhile.
class ControlFifo {
public:
    ControlFifo() = default;
    ~ControlFifo();
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;

    // Returns an error text, empty when the FIFO is ready to read.
    std::string Open(const std::string& path);
    int ReadFd() const { return readFd_; }

private:
    std::string path_;
    int readFd_ = -1;
    int writeFd_ = -1;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};
