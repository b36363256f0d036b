// The files of a directory and the files this process holds open, as the
// CSV logs' limit needs them: names, sizes, ages and identities.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>
#include <vector>

// A file whatever the path it is reached by.
struct FileIdentity {
    dev_t device;
    ino_t inode;
    bool operator==(const FileIdentity& other) const { return device == other.device && inode == other.inode; }
};

struct DirFile {
    std::string name;  // without the directory
    long long bytes;
    time_t modified;
    FileIdentity identity;
};

// The regular files directly in dir; symbolic links and everything else
// are left out. False when dir cannot be read.
bool ListRegularFiles(const std::string& dir, std::vector<DirFile>* files);

// Every file open in this process, whichever thread or module opened it.
// False when /proc cannot tell.
bool ListOpenFiles(std::vector<FileIdentity>* files);
