#include "console/console.h"

#include <pthread.h>
#include "platform/log.h"
#include <unistd.h>

#include <cstdint>
#include <limits>

#include "console/commands.h"
#include "console/console_io.h"
#include "params/rf_settings.h"
#include "params/rf_settings_file.h"
#include "subgconfig/rf_startup.h"

namespace {

// Ends with standard input: a closed terminal fails every read at once, and
// the loop must not spin on it.
void RunMenu() {
    for (;;) {
        ShowMenu();
        const int32_t number = ParseNum();
        if (ConsoleInputEnded()) return;
        if (number == kInvalidNum || number == std::numeric_limits<int32_t>::max()) continue;
        RunConsoleCommand(number);
        if (ConsoleInputEnded()) return;
    }
}

}  // namespace

// Without a terminal there is nobody to type commands: the thread ends
// once the start-up procedure is done.
void* CmdParseLineProc(void*) {
    pthread_detach(pthread_self());
    WaitForSubGBoard();
    LoadAndSetRFSettings();
    if (!isatty(STDIN_FILENO)) return nullptr;
    RunMenu();
    LogLine(LOG_INFO, "CmdParseLineProc: standard input has ended, the console is closed");
    return nullptr;
}
