// The thin socket layer under the RTC link: plain descriptors, IPv4 only,
// every wait bounded. Nothing here logs; callers tell what failed from the
// results and errno.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

constexpr size_t kIPv4TextBytes = 16;  // "255.255.255.255" and its terminator

// A datagram socket bound to every local address on port (0: the system
// picks one), with SO_REUSEADDR. -1 with errno set; the step that failed is
// told through *failedStep so that the caller can name it.
enum class SocketStep { kCreate, kReuseAddr, kBind, kConnect };
int OpenUdpListener(int port, SocketStep* failedStep);

// The local port a socket is bound to; -1 on failure.
int LocalPort(int fd);

// 1 when fd is readable (data, end of stream or an error to collect), 0 when
// timeoutMillis passed, -1 when the wait itself failed (errno set).
int WaitReadable(int fd, int timeoutMillis);

// One datagram without blocking; its IPv4 source as dotted text in source
// (kIPv4TextBytes, empty when it cannot be told). Bytes received, or -1.
long ReceiveDatagram(int fd, void* buffer, size_t length, char source[kIPv4TextBytes]);

// Dotted text to an address; false when it is not one.
bool ParseIPv4(const char* text, in_addr* address);

// A non-blocking stream socket with SO_REUSEADDR. -1 with errno set and the
// failed step in *failedStep.
int OpenTcpClientSocket(SocketStep* failedStep);

// Connects fd, trying up to attempts times pauseMillis apart: on a
// non-blocking socket the first call starts the connection and a later one
// reports it established. False with errno of the last attempt.
bool ConnectWithRetries(int fd, in_addr address, uint16_t port, int attempts, int pauseMillis);

enum class WriteStatus {
    kComplete,  // every byte went out
    kPeerGone,  // EPIPE or ECONNRESET: the other side has closed
    kTimedOut,  // the socket took no more bytes within the wait
    kError,     // any other failure, errno set
};

// Writes all bytes without raising SIGPIPE. When the socket buffer is full
// it waits for room, timeoutMillis in all, so that a message is either sent
// whole or the caller learns it must give the connection up.
WriteStatus WriteAll(int fd, const void* data, size_t length, int timeoutMillis);

// Bytes received without blocking; 0 at end of stream; -1 with errno set.
long ReceiveNonBlocking(int fd, void* buffer, size_t length);

// Ends both directions; any thread blocked on fd wakes up. The descriptor
// stays open until CloseSocket.
void ShutdownSocket(int fd);
void CloseSocket(int fd);
