// The SubG board's own diagnostics report (reply to opcode 17).
#pragma once

#include "subg/reply.h"

ReplyResult ParseDiagnostics(const T7734FrameReply& reply);
