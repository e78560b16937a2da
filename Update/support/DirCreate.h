// Directory test and creation of every folder along a path.
#pragma once

#include <stddef.h>

// Size of the working copies of a path; longer paths are refused.
constexpr size_t kDirPathBufferSize = 4096;

// 1 when the path is a directory that the process can make current, else 0.
// Changes the current drive and directory for a moment and restores both.
int DirectoryExists(const char* path);
// Creates each missing folder along the path, from the top down, the last
// one included. Nonzero when the path is a directory at the end, else 0.
int MakeDirectoryPath(const char* path);
