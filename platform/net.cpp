#include "platform/net.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace {

long long MonotonicMillis() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// poll for events until the deadline; a signal does not shorten the wait.
int PollUntil(int fd, short events, long long deadline) {
    for (;;) {
        const long long left = deadline - MonotonicMillis();
        if (left <= 0) return 0;
        pollfd entry{fd, events, 0};
        const int rc = poll(&entry, 1, static_cast<int>(left));
        if (rc < 0 && errno == EINTR) continue;
        return rc < 0 ? -1 : (rc > 0 ? 1 : 0);
    }
}

bool SetReuseAddr(int fd) {
    const int on = 1;
    return setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0;
}

// Closes fd keeping the errno of the failure that made us give it up.
int FailAndClose(int fd, SocketStep step, SocketStep* failedStep) {
    const int err = errno;
    close(fd);
    errno = err;
    *failedStep = step;
    return -1;
}

}  // namespace

int OpenUdpListener(int port, SocketStep* failedStep) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *failedStep = SocketStep::kCreate;
        return -1;
    }
    if (!SetReuseAddr(fd)) return FailAndClose(fd, SocketStep::kReuseAddr, failedStep);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return FailAndClose(fd, SocketStep::kBind, failedStep);
    return fd;
}

int LocalPort(int fd) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) return -1;
    return ntohs(local.sin_port);
}

int WaitReadable(int fd, int timeoutMillis) {
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return PollUntil(fd, POLLIN, MonotonicMillis() + timeoutMillis);
}

long ReceiveDatagram(int fd, void* buffer, size_t length, char source[kIPv4TextBytes]) {
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    source[0] = '\0';
    const ssize_t n = recvfrom(fd, buffer, length, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &fromSize);
    if (n >= 0 && from.sin_family == AF_INET && inet_ntop(AF_INET, &from.sin_addr, source, kIPv4TextBytes) == nullptr)
        source[0] = '\0';
    return n;
}

bool ParseIPv4(const char* text, in_addr* address) { return inet_pton(AF_INET, text, address) == 1; }

int OpenTcpClientSocket(SocketStep* failedStep) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *failedStep = SocketStep::kCreate;
        return -1;
    }
    if (!SetReuseAddr(fd)) return FailAndClose(fd, SocketStep::kReuseAddr, failedStep);
    return fd;
}

bool ConnectWithRetries(int fd, in_addr address, uint16_t port, int attempts, int pauseMillis) {
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr = address;
    remote.sin_port = htons(port);
    for (int attempt = 1; attempt <= attempts; ++attempt) {
        if (connect(fd, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0 || errno == EISCONN)
            return true;
        if (attempt == attempts) break;
        const int err = errno;
        timespec pause{pauseMillis / 1000, (pauseMillis % 1000) * 1000000L};
        while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
        errno = err;
    }
    return false;
}

WriteStatus WriteAll(int fd, const void* data, size_t length, int timeoutMillis) {
    const char* next = static_cast<const char*>(data);
    const long long deadline = MonotonicMillis() + timeoutMillis;
    while (length > 0) {
        const ssize_t n = send(fd, next, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            next += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return WriteStatus::kPeerGone;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return WriteStatus::kError;
        // The socket buffer is full: the rest of the message has to follow
        // before anything else may be written, so wait for room, bounded.
        const int ready = PollUntil(fd, POLLOUT, deadline);
        if (ready == 0) return WriteStatus::kTimedOut;
        if (ready < 0) return WriteStatus::kError;
    }
    return WriteStatus::kComplete;
}

long ReceiveNonBlocking(int fd, void* buffer, size_t length) { return recv(fd, buffer, length, MSG_DONTWAIT); }

void ShutdownSocket(int fd) { shutdown(fd, SHUT_RDWR); }

void CloseSocket(int fd) { close(fd); }
