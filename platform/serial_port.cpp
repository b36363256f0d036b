#include "platform/serial_port.h"

#include <fcntl.h>
#include "platform/log.h"
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/timing.h"

namespace {

termios CurrPortSettings;
termios RequiredPortSettings;

constexpr int kSettingsReadBacks = 10;
constexpr int kSettingsReadBackPauseMicros = 100000;

void MakeRaw(termios* t) {
    cfsetispeed(t, B115200);
    cfsetospeed(t, B115200);
    t->c_iflag = IGNBRK;
    t->c_oflag = 0;
    t->c_lflag = 0;
    t->c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | PARODD | CSIZE);
    t->c_cflag |= CS8 | CREAD | CLOCAL;
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
}

bool InputFlagsMatch() {
    return (CurrPortSettings.c_iflag & 0xFF) == (RequiredPortSettings.c_iflag & 0xFF);
}

}  // namespace

int OpenSerialPortQuietly(const char* path) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    // Reads return at once through VMIN = VTIME = 0, not through O_NONBLOCK.
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int OpenSerialPort(const char* path) {
    int fd = OpenSerialPortQuietly(path);
    if (fd < 0) {
        LogLine(LOG_ERR, "OpenSerialPort: Unable to open %s. (%s)", path, strerror(errno));
    }
    return fd;
}

int ConfigurePort(int fd) {
    tcgetattr(fd, &CurrPortSettings);
    tcgetattr(fd, &RequiredPortSettings);
    MakeRaw(&RequiredPortSettings);
    tcflush(fd, TCIOFLUSH);
    tcsetattr(fd, TCSANOW, &RequiredPortSettings);

    // A port that never takes the settings must not hold the listener for
    // ever: re-read a few times with a pause, then go on with what it has.
    for (int attempt = 0; attempt < kSettingsReadBacks; ++attempt) {
        tcgetattr(fd, &CurrPortSettings);
        if (InputFlagsMatch()) return fd;
        LogLine(LOG_ERR, "ConfigurePort: Port settings mismatch!!!");
        MicroSecSleep(kSettingsReadBackPauseMicros);
    }
    return fd;
}
