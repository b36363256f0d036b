// tarnel-make-replay FILE: writes the serial traffic recording that the
// daemon's regression test plays back through the simulator.
#include <cstdio>
#include <fstream>

#include "tools/subgsim/sim_replay.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: tarnel-make-replay FILE\n", stderr);
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << ReplayScript();
    out.close();
    if (!out) {
        std::fprintf(stderr, "tarnel-make-replay: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
