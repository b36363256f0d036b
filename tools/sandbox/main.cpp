// tarnel-sandbox: runs the unmodified daemon, with its fixed device, GPIO,
// syslog, /home and /run paths, in private namespaces against a simulated
// board.
#include <fcntl.h>
#include <linux/close_range.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <string>

#include "options.h"
#include "sandbox.h"

namespace {

// With a standard descriptor closed, the first file opened would take its
// place and the daemon's output would land in it.
void EnsureStandardFds() {
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
    }
}

// Descriptors handed down by whoever started the sandbox are not for the
// daemon or the simulator: a pipe kept open by them could hold a caller's read.
void KeepInheritedFdsFromChildren() { close_range(3, ~0U, CLOSE_RANGE_CLOEXEC); }

}  // namespace

int main(int argc, char* argv[]) {
    EnsureStandardFds();
    KeepInheritedFdsFromChildren();
    SandboxOptions options;
    std::string error;
    if (!ParseSandboxOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "sandbox: %s\n%s", error.c_str(), kSandboxUsage);
        return 1;
    }
    if (options.help) {
        std::fputs(kSandboxUsage, stdout);
        return 0;
    }
    try {
        Sandbox sandbox(options);
        return sandbox.Run();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sandbox: %s\n", e.what());
        return 1;
    }
}
