// The serial listener thread: owns the port, gathers bytes, and at every
// 2.5 ms silence runs the link duties and hands the bytes on. It sleeps on
// the port: a silence that finds nothing to do is not waited for, only the
// next wall-clock second (when the timed duties may fall due), the silence
// watchdog, or a request queued by another thread wakes it.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>

#include "subg/link_buffers.h"

constexpr int kSilenceMicros = 2500;
constexpr const char* kSerialDevice = "/dev/ttyS0";

// Descriptor of the port, -1 while it is not open. Written by the listener
// before it starts its loop; read by whoever writes the transmit slot.
extern int SerialFd;

// When the last byte was read: monotonic microseconds for the silence rule
// and the silence watchdog (listener thread only), and time() seconds for
// the watchdog's log line.
extern long long LastSerialByteMicros;
extern std::atomic<time_t> LastSerCommTime;

void* SerialListener(void*);

// Bytes read from the port and not yet handed on. The listener's buffer is
// the borrower's while the port is lent (link_loan.h).
struct GatheringBuffer {
    uint8_t bytes[kLinkBufferSize];
    int length;
};
GatheringBuffer& LinkRxBuffer();

// One read of what fd holds, behind the bytes gathered. A buffer that is
// full, or that this read fills, has fd's unread input discarded (kFull).
// kFailed leaves errno as the read set it.
enum class PortRead { kNothing, kBytes, kFailed, kFull };
PortRead GatherFromPort(int fd, GatheringBuffer* buffer);

// Opens the board's port; a failure logs and counts a UART fault.
int OpenLinkPort(const char* path);

// Hands the gathered bytes to the inbound queue if TxMutex is free now;
// otherwise they wait for the next silence. The last duty of every silence.
void HandOnGatheredBytes();

// Brings the listener out of its sleep to the next silence, where it sends
// what another thread has just queued. On the listener thread itself it
// does nothing: the listener looks at the queue after its duties anyway.
void WakeSerialListener();
