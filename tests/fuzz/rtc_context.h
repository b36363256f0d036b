// The RTC handlers' collaborators for fuzzing: the real link object, queue
// and appliers, but a clock that is never set.
#pragma once

#include "backbone/rtc_handlers.h"

// Built once; the link starts each run connected, not paired.
const RTCHandlerContext& FuzzRTCContext();

// Drops what the handlers left queued: acknowledgements, board requests.
void ForgetRTCRun();
