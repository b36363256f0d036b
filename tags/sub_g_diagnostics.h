// The SubG board's own diagnostics report (reply to opcode 17).
#pragma once

int ParseDiagnostics();
