// Files replaced whole: the new version is written beside the file under a
// work name and put in its place only when it is complete, so that a failure
// or an interruption leaves the old file or the new one, never a part.
#pragma once

#include <stddef.h>

// Ends the work name of a file (path + this); a leftover of an interrupted
// run is replaced by the next one.
constexpr char kWorkSuffix[] = ".upd~";

// path + kWorkSuffix into out; false when it does not fit.
bool MakeWorkPath(const char* path, char* out, size_t capacity);

// The work name of path into work, with any leftover of an interrupted run
// removed; false (GetLastError set) when it does not fit or stays.
bool PrepareWorkPath(const char* path, char* work, size_t capacity);

// Deletes a file, clearing its read-only bit first. True when it is gone or
// was never there.
bool RemoveFile(const char* path);

// What happens to a target that exists already.
enum class ExistingTarget { kReplace, kKeep };

// Moves the finished work file to target. With kKeep an existing target
// stays and the call fails. On failure the work file is removed and the
// error of the failed step is left in GetLastError.
bool PutInPlace(const char* workPath, const char* target, ExistingTarget existing);

// Writes size bytes as the whole new content of path (normal attribute).
// False, with path unchanged and GetLastError set, when it cannot.
bool WriteWholeFile(const char* path, const void* data, size_t size);

// Copies source to target with the source's attributes and last-write time,
// as the shell's copy does. False, with target unchanged and GetLastError
// set, when it cannot.
bool CopyWholeFile(const char* source, const char* target, ExistingTarget existing);
