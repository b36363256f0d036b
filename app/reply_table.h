// Which module answers which reply of the SubG board.
#pragma once

#include "subg/reply.h"

// The handlers by opcode, and the parser's after-pass work.
ReplyDispatch BoardReplyDispatch();
