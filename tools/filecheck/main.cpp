// tarnel-filecheck: loads a reader's ParamFiles.txt and DataBackup.bin with
// the daemon's own loaders, on copies in a scratch directory, and says
// whether each is whole. For kill tests: a file a kill left half written
// shows up here as damaged.
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "backbone/msg_queue.h"
#include "backbone/queue_store.h"
#include "params/working_params.h"

namespace {

namespace fs = std::filesystem;

constexpr char kBackupName[] = "DataBackup.bin";
const char* const kParamsName = ParamFilName + 2;  // without its "./"

std::string Bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The loader falls back to its defaults, and saves them, only when the file
// is missing or damaged: an intact file is left as it was.
std::string CheckParams(const fs::path& copy) {
    if (!fs::exists(copy)) return "params=absent";
    const std::string before = Bytes(copy);
    LoadParams();
    if (Bytes(copy) != before) return "params=damaged";
    const WorkingParamsSt params = SnapshotWorkingParams();
    return "params=ok keepalive=" + std::to_string(params.KeepAlive) +
           " diag=" + std::to_string(params.DiagInterval);
}

// Every record whole, and the loader takes the file.
std::string CheckBackup(const fs::path& copy, OutgoingQueue& queue) {
    if (!fs::exists(copy)) return "backup=absent";
    std::ifstream in(copy, std::ios::binary);
    bool whole = true;
    ReadBackupRecords(
        [&in](uint8_t* out, size_t n) {
            in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(n));
            return static_cast<size_t>(in.gcount());
        },
        [&whole](uint8_t, std::string&&, bool complete) { whole = whole && complete; });
    if (!queue.LoadQFromFile() || !whole) return "backup=damaged";
    return "backup=ok packages=" + std::to_string(queue.Entries().size()) +
           " records=" + std::to_string(queue.TagDataCount());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: tarnel-filecheck WORKDIR\n"
                     "Loads WORKDIR/ParamFiles.txt and WORKDIR/%s with the daemon's loaders, on\n"
                     "copies, and prints params=ok|absent|damaged and backup=ok|absent|damaged with\n"
                     "what they hold; exit status 1 when either is damaged.\n",
                     kBackupName);
        return 2;
    }
    // The loaders' lines are not for the host's log.
    setlogmask(LOG_UPTO(LOG_EMERG));
    const fs::path work = fs::absolute(argv[1]);
    char scratchTemplate[] = "/tmp/tarnel-filecheck-XXXXXX";
    if (mkdtemp(scratchTemplate) == nullptr) {
        std::perror("tarnel-filecheck: scratch directory");
        return 2;
    }
    const fs::path scratch = scratchTemplate;
    std::error_code error;
    for (const char* name : {kParamsName, kBackupName}) {
        if (fs::exists(work / name) && !fs::copy_file(work / name, scratch / name, error)) {
            std::fprintf(stderr, "tarnel-filecheck: cannot copy %s: %s\n", name, error.message().c_str());
            fs::remove_all(scratch, error);
            return 2;
        }
    }
    fs::current_path(scratch);
    BackupLocation location;
    location.sdDevice = (scratch / "no-card").string();
    location.localBackupFile = (scratch / kBackupName).string();
    OutgoingQueue queue(location);
    const std::string params = CheckParams(scratch / kParamsName);
    const std::string backup = CheckBackup(scratch / kBackupName, queue);
    fs::remove_all(scratch, error);
    std::printf("%s %s\n", params.c_str(), backup.c_str());
    return params.find("damaged") != std::string::npos || backup.find("damaged") != std::string::npos ? 1 : 0;
}
