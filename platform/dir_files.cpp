#include "platform/dir_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

// Calls take(name, status) for every entry of dir but "." and "..";
// statFlags 0 follows symbolic links, AT_SYMLINK_NOFOLLOW does not.
template <typename Take>
bool ForEachEntry(const char* dir, int statFlags, Take take) {
    DIR* stream = opendir(dir);
    if (stream == nullptr) return false;
    while (const dirent* entry = readdir(stream)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status;
        // An entry gone since readdir is simply not listed.
        if (fstatat(dirfd(stream), entry->d_name, &status, statFlags) == 0) take(name, status);
    }
    closedir(stream);
    return true;
}

}  // namespace

bool ListRegularFiles(const std::string& dir, std::vector<DirFile>* files) {
    return ForEachEntry(dir.c_str(), AT_SYMLINK_NOFOLLOW, [files](const std::string& name, const struct stat& s) {
        if (!S_ISREG(s.st_mode)) return;
        files->push_back({name, static_cast<long long>(s.st_size), s.st_mtime, {s.st_dev, s.st_ino}});
    });
}

// Each entry of /proc/self/fd is a link to what the descriptor holds; stat
// through it gives the open file's identity, even under another path.
bool ListOpenFiles(std::vector<FileIdentity>* files) {
    return ForEachEntry("/proc/self/fd", 0, [files](const std::string&, const struct stat& s) {
        files->push_back({s.st_dev, s.st_ino});
    });
}
