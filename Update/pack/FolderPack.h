// Folder Pack archives: the unpacker and its result codes.
#pragma once

#include <windows.h>
#include <stdint.h>

// Result codes of the unpacker.
enum : int {
    kFpOk = 0,
    kFpCreateFailed = -1,  // target file not created; or no archive handle
    kFpWriteFailed = -2,   // content not written in full, or chunk not inflated
    kFpOpenFailed = -6,    // archive file not opened
    kFpNoMemory = -7,      // chunk buffer not allocated
    kFpTruncated = -8,     // a read failed or was short
    kFpBadFormat = -9,     // signature, tag, or a value the reader refuses
    kFpSizeMismatch = -10, // chunks do not add up to the file's size
    kFpOverwriteRefused = -11,
};

// Answers 6 (Yes) to let an existing target file be replaced.
typedef int (*OverwriteCallback)(const char* targetPath);
// Progress: see ExtractFolderPack. The result is not used.
typedef int (*ProgressCallback)(int32_t item, int32_t itemCount, uint64_t bytesDone,
                                uint64_t bytesTotal);

// Unpacks the archive file into destinationFolder. Either callback may be
// null. Returns 0 or a negative code from the table above.
int ExtractFolderPack(const char* destinationFolder, const char* archivePath,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback);
