// The one way the daemon replaces a file it rewrites: the new content goes
// to a temporary file beside it, is synced, renamed over the old name, and
// the directory is synced, so that a kill or a power cut at any moment
// leaves either the whole old file or the whole new one.
//
// A path that is a symbolic link is saved through: the file the link names
// is replaced, beside it, and the link stays. The installation links the
// files that change often but need not outlive a power cut to RAM, so that
// their saves do not wear the flash.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

// Writes the body through writeBody, which returns false to abandon the
// save. On any failure the old file stays as it was, the temporary file is
// removed, errno tells the cause and the result is false.
bool WriteFileAtomically(const char* path, const std::function<bool(FILE*)>& writeBody);
bool WriteFileAtomically(const char* path, const void* data, size_t size);

// The file a symbolic link at path names (a relative target taken from the
// link's directory), or path itself when it is no link. One level only: a
// link to a link is replaced at the second. Saves go through it, and so must
// removals of a file that is saved again later.
std::string FollowLink(const char* path);

// Moves a file the daemon will not use out of the way of its next save, to
// path + suffix (replacing an earlier one of that name), and makes the
// rename durable. False with errno set when it could not be moved.
bool RenameAside(const char* path, const char* suffix);
// Renames from to to (replacing a file of that name) and makes the rename
// durable. False with errno set when it could not be renamed.
bool RenameDurably(const char* from, const char* to);

// Called once the new content is complete on disk and before it replaces
// the old file; tests use it to cut a save short at that point. nullptr
// removes it.
void SetAtomicWriteHook(void (*hook)(const char* path));
