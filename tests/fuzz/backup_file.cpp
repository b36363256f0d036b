// The outgoing queue's backup, "DataBackup.bin", as the next start reads
// it: what a power cut or a full card left. A backup the reader itself
// writes from what it loaded must load again to the same queue.
#include "backbone/msg_queue.h"
#include "fuzz_support.h"

namespace {

BackupLocation Here() {
    BackupLocation here;
    here.sdDevice = "./no-sd-card";
    here.probeFile = "./DummyFile.txt";
    here.sdBackupFile = "./no-sd-card/DataBackup.bin";
    here.localBackupFile = "./DataBackup.bin";
    return here;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        EnterFuzzDir();
        return true;
    }();
    (void)ready;
    WriteFuzzFile("./DataBackup.bin", data, size);
    OutgoingQueue queue(Here());
    if (queue.LoadQFromFile()) {
        const size_t loaded = queue.Entries().size();
        if (!queue.SaveQtoFile()) __builtin_trap();
        OutgoingQueue reloaded(Here());
        const bool read = reloaded.LoadQFromFile() || loaded == 0;
        if (!read || reloaded.Entries().size() != loaded) __builtin_trap();
    }
    return 0;
}
