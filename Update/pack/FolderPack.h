// Folder Pack archives: the unpacker and its result codes.
#pragma once

#include "FileLayer.h"

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
// null. Returns 0 or a negative code from the table above. Called by the
// unpacker's benchmark and tests; the update and fpack x unpack through
// ExtractFolderPackFrom.
int ExtractFolderPack(const char* destinationFolder, const char* archivePath,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback);

// What an unpack may do beyond the plain call. Both callbacks may be null
// and get the context.
struct UnpackOptions {
    // Answers kFpAnswerYes to let an existing target file be replaced.
    int (*overwrite)(void* context, const char* targetPath) = nullptr;
    // As the plain call's progress callback.
    void (*progress)(void* context, int32_t item, int32_t itemCount, uint64_t bytesDone,
                     uint64_t bytesTotal) = nullptr;
    void* context = nullptr;
    // A FILE record whose whole name is divertName (any letter case) is
    // written under divertTo, in the destination folder, instead.
    const char* divertName = nullptr;
    const char* divertTo = nullptr;
    // kFlushed: every file's data reaches the disk before its record counts
    // as done. A file that replaces another is flushed in any case.
    Durability durability = Durability::kAsWritten;
    // Receives the target path of the record that failed, cut to fit, and
    // the platform's error of the call that failed (0 for a fault of the
    // archive); empty and 0 when none did.
    char* failedTarget = nullptr;
    size_t failedTargetCapacity = 0;
    DWORD failedError = 0;
};

// ExtractFolderPack with these options.
int ExtractFolderPackWith(const char* destinationFolder, const char* archivePath,
                          UnpackOptions& options);
// The same over an archive open for reading at its current position (its
// start), read through this handle only.
int ExtractFolderPackFrom(const char* destinationFolder, HANDLE archive, UnpackOptions& options);

// ---- Format constants and the unpacker's steps, for the tools and tests ----

// Tags, each read as one little-endian 32-bit value.
constexpr uint32_t kFpTagFile = 0x454C4946;   // "FILE"
constexpr uint32_t kFpTagFolder = 0x52444C46; // "FLDR"
constexpr uint32_t kFpTagChunk = 0x4B435046;  // "FPCK"
constexpr uint32_t kFpTagEnd = 0x444E4546;    // "FEND"
// The signature block: "Folder Pack", a NUL, then 4 bytes that are not checked.
constexpr char kFpSignature[] = "Folder Pack";
constexpr uint32_t kFpHeaderValue = 1000;
// Data of one chunk at most (the reader's chunk buffer).
constexpr uint32_t kFpMaxChunkData = 0x600000;
// Destination prefix, name and NUL together.
constexpr size_t kFpPathBufferSize = 4096;
// An overwrite callback's Yes.
constexpr int kFpAnswerYes = 6;

// The plain call's steps, kept for callers of that interface (the tests):
// the update and fpack x go through ExtractFolderPackFrom.
// Walks an archive open for reading at its start. -1 for no handle.
int ExtractFolderPackHandle(const char* destinationFolder, HANDLE archive,
                            OverwriteCallback overwriteCallback, ProgressCallback progressCallback);
// One FLDR record whose tag has just been read.
int ExtractFolderRecord(HANDLE archive, const char* destinationFolder);
// One FILE record whose tag has just been read, with its chunks.
int ExtractFileRecord(HANDLE archive, const char* destinationFolder,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback);

// The file that an existing target's new content is written to, beside the
// target, before it replaces it. No record may name it, so it never meets an
// archive member; a leftover of a killed unpack is written over and moved into
// place when the next unpack replaces that target again.
constexpr char kFpNewFileName[] = "~FolderPack.tmp";
// Longest name that some destination can take: the shortest destination
// prefix (one backslash), the name and its NUL fill the path buffer.
constexpr size_t kFpMaxNameLength = kFpPathBufferSize - 2;
// Characters of one name component that a file system stores (NTFS and FAT
// count 255 UTF-16 units; every character of code page 932 is one).
constexpr size_t kFpMaxComponentCharacters = 255;

// Whether the unpacker takes a record name: false when it refuses it (with -9,
// before anything of the record is made), wherever it unpacks (a name that
// fits no destination is refused; one that is too long only for a deep
// destination is refused there). The name is split into components at
// backslashes, a trail byte 0x5C being none; refused are:
// - more than kFpMaxNameLength bytes, or no NUL within the buffer;
// - a lead byte not followed by a trail byte (also at the very end);
// - outside double-byte characters, a byte below 0x20 or one of < > " | ? * / :
//   (so also drive-qualified names and streams);
// - an empty name or component (rooted names, "a\\b", a trailing backslash);
// - a component of more than kFpMaxComponentCharacters characters, which a
//   platform would refuse or, worse, cut;
// - a component ending in '.' or ' ' (also "." and ".."), which the platform
//   would trim on one path form and keep on the other;
// - a component whose part before its first '.', trailing blanks removed, is
//   a device name in any letter case: CON, PRN, AUX, NUL, COM0-COM9,
//   LPT0-LPT9, CONIN$, CONOUT$;
// - a component equal to kFpNewFileName in any letter case.
bool IsSafeRecordName(const char* name);
