// tarnel-rtcsim: stands in for the farm's central server, so that a reader
// can be paired, fed commands and watched without the real one.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/rtcsim/rtc_options.h"
#include "tools/rtcsim/rtc_printer.h"
#include "tools/rtcsim/rtc_server.h"
#include "tools/subgsim/sim_control.h"

namespace {

constexpr size_t kMaxScriptBytes = 1 << 20;

volatile std::sig_atomic_t StopRequested = 0;

void OnStopSignal(int) { StopRequested = 1; }

void CatchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool LoadScript(const std::string& path, std::vector<RtcCommand>* out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "tarnel-rtcsim: cannot read script %s\n", path.c_str());
        return false;
    }
    std::string text(kMaxScriptBytes + 1, '\0');
    file.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > kMaxScriptBytes) {
        std::fprintf(stderr, "tarnel-rtcsim: script %s is larger than %zu bytes\n", path.c_str(), kMaxScriptBytes);
        return false;
    }
    RtcScript parsed = ParseRtcScript(text);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "tarnel-rtcsim: script %s %s\n", path.c_str(), parsed.error.c_str());
        return false;
    }
    *out = std::move(parsed.commands);
    return true;
}

int Run(RtcSimOptions o) {
    ControlFifo control;
    if (!o.controlPath.empty()) {
        std::string error = control.Open(o.controlPath);
        if (!error.empty()) {
            std::fprintf(stderr, "tarnel-rtcsim: control FIFO: %s\n", error.c_str());
            return 1;
        }
        o.sim.controlFd = control.ReadFd();
    }
    FILE* out = o.outPath.empty() ? nullptr : std::fopen(o.outPath.c_str(), "w");
    if (!o.outPath.empty() && !out) {
        std::fprintf(stderr, "tarnel-rtcsim: cannot write %s\n", o.outPath.c_str());
        return 1;
    }
    Printer printer(o.quiet ? nullptr : stdout, out, o.json, o.label, o.monotonic);
    int status = 1;
    {
        RtcSimulator sim(o.sim, &printer);
        if (sim.Start()) {
            sim.Run(&StopRequested);
            status = 0;
        }
    }
    if (out) std::fclose(out);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    RtcSimOptions o;
    std::string error;
    if (!ParseRtcSimOptions(argc, argv, &o, &error)) {
        std::fprintf(stderr, "tarnel-rtcsim: %s\n%s", error.c_str(), kRtcSimUsage);
        return 2;
    }
    if (o.help) {
        std::fputs(kRtcSimUsage, stdout);
        std::fputs(kRtcCommandHelp, stdout);
        return 0;
    }
    if (!o.scriptPath.empty() && !LoadScript(o.scriptPath, &o.sim.script)) return 2;
    CatchStopSignals();
    return Run(o);
}
