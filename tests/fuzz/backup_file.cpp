// The outgoing queue's backup, "DataBackup.bin", as the next start reads
// it: what a power cut or a full card left. A backup the reader itself
// writes from what it loaded must load again to the same queue.
#include <mutex>

#include "backbone/msg_queue.h"
#include "backbone/queue_store.h"
#include "fuzz_support.h"

namespace {

size_t QueuedPackages() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    return RTCMsgQ.Entries.size();
}

void EmptyQueue() {
    std::lock_guard<std::mutex> lock(RTCMsgQMutex);
    RTCMsgQ = WaitingMsgQ();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        EnterFuzzDir();
        BackupLocation here;
        here.sdDevice = "./no-sd-card";
        here.probeFile = "./DummyFile.txt";
        here.sdBackupFile = "./no-sd-card/DataBackup.bin";
        here.localBackupFile = "./DataBackup.bin";
        SetBackupLocation(here);
        return true;
    }();
    (void)ready;
    WriteFuzzFile("./DataBackup.bin", data, size);
    if (LoadQFromFile()) {
        const size_t loaded = QueuedPackages();
        if (!SaveQtoFile()) __builtin_trap();
        EmptyQueue();
        const bool reloaded = LoadQFromFile() || loaded == 0;
        if (!reloaded || QueuedPackages() != loaded) __builtin_trap();
    }
    EmptyQueue();
    return 0;
}
