#include "platform/atomic_file.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

namespace {

std::atomic<void (*)(const char*)> WriteHook{nullptr};

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Makes the rename itself survive a power cut.
void SyncDirectory(const std::string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Keeps the first failure's errno across the clean-up that follows it.
bool Fail(const std::string& tmp) {
    int err = errno;
    unlink(tmp.c_str());
    errno = err;
    return false;
}

}  // namespace

std::string FollowLink(const char* path) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path, target, sizeof target);
    // Not a link, or a target too long to be whole: the path itself.
    if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) return path;
    target[length] = '\0';
    if (target[0] == '/') return target;
    return DirectoryOf(path) + "/" + target;
}

bool WriteFileAtomically(const char* path, const std::function<bool(FILE*)>& writeBody) {
    const std::string target = FollowLink(path);
    const std::string tmp = target + ".tmp";
    FILE* file = std::fopen(tmp.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = writeBody(file) && std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    int err = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        err = errno;
    }
    errno = err;
    if (!ok) return Fail(tmp);
    if (auto hook = WriteHook.load()) hook(path);
    if (std::rename(tmp.c_str(), target.c_str()) != 0) return Fail(tmp);
    SyncDirectory(DirectoryOf(target));
    return true;
}

bool WriteFileAtomically(const char* path, const void* data, size_t size) {
    return WriteFileAtomically(path, [&](FILE* file) { return std::fwrite(data, 1, size, file) == size; });
}

bool RenameAside(const char* path, const char* suffix) {
    return RenameDurably(path, (std::string(path) + suffix).c_str());
}

bool RenameDurably(const char* from, const char* to) {
    if (std::rename(from, to) != 0) return false;
    SyncDirectory(DirectoryOf(to));
    return true;
}

void SetAtomicWriteHook(void (*hook)(const char*)) { WriteHook = hook; }
