#include "platform/serial_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include "subg/serial_listener.h"
#include "subg/uart_faults.h"

namespace {

TEST(SerialPort, AMissingDeviceIsOneUartFaultAndMinusOne) {
    EXPECT_EQ(OpenLinkPort("/nonexistent/ttyS0"), -1);
    EXPECT_EQ(UARTCommFaults(), 1);
    EXPECT_EQ(OpenSerialPortQuietly("/nonexistent/ttyS0"), -1);
    EXPECT_EQ(UARTCommFaults(), 1) << "retries are not counted again";
}

TEST(SerialPort, ConfigureMakesTheLineRaw115200AndReadsReturnAtOnce) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int fd = OpenSerialPort(ptsname(master));
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_EQ(ConfigurePort(fd), fd);

    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag, static_cast<tcflag_t>(IGNBRK));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    char byte;
    EXPECT_EQ(read(fd, &byte, 1), 0) << "nothing there: the read comes back empty";
    ASSERT_EQ(write(master, "\x01\xff", 2), 2);
    char bytes[2];
    ssize_t got = 0;
    for (int i = 0; i < 1000 && got < 2; ++i) {
        ssize_t n = read(fd, bytes + got, static_cast<size_t>(2 - got));
        if (n > 0) got += n;
        usleep(1000);
    }
    EXPECT_EQ(got, 2);
    EXPECT_EQ(static_cast<uint8_t>(bytes[1]), 0xff) << "no byte is translated on the way";
    close(fd);
    close(master);
}

}  // namespace
