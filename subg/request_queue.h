// Requests waiting for the SubG board: pending ones not yet sent, and sent
// ones awaiting their reply. Sent requests without a reply go out again.
#pragma once

#include <cstddef>
#include <ctime>

#include "subg/frame.h"

// An awaited request goes out again once its reply is this late.
constexpr time_t kReplyTimeoutSeconds = 5;

// Queues a request unless an equal one is already pending or awaited.
void AddSubGRequest(T7734FrameRequest frame);

// Hands out the next request to write: a pending one first, else the oldest
// awaited one once its reply is overdue. Returns 1 with out filled, else 0.
int GetNextSubGBReq(T7734FrameRequest* out);

// The reply settles the oldest awaited request with its opcode.
void RMSubGRequest(const T7734FrameReply& reply);

size_t PendingSubGRequests();
size_t AwaitedSubGRequests();
