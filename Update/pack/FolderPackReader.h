// Reading Folder Pack archives field by field: the one reader of the format,
// shared by the unpacker and the archive tools, so that both accept and
// refuse exactly the same archives.
#pragma once

#include "FolderPack.h"

#include <windows.h>
#include <stdint.h>

// Read-ahead of an archive walk: the fixed fields of many small records come
// from one platform read.
constexpr DWORD kFpReadAheadSize = 64 * 1024;

// Reads the archive field by field. Each field gets exactly its width or the
// read counts as failed or short, as with one platform read per field. With
// no read-ahead buffer every field is one platform read, and the handle
// stays just after the last field read.
class ArchiveReader {
  public:
    ArchiveReader(HANDLE archive, char* buffer, DWORD capacity)
        : archive_(archive), buffer_(buffer), capacity_(buffer != nullptr ? capacity : 0) {}

    bool Read(void* out, DWORD length);
    template <typename T> bool ReadValue(T& value) { return Read(&value, sizeof value); }

  private:
    HANDLE archive_;
    char* buffer_;
    DWORD capacity_;
    DWORD position_ = 0;
    DWORD end_ = 0;
};

// The destination prefix: destinationFolder with one backslash at its end,
// in a buffer of kFpPathBufferSize bytes. 0 when it does not fit.
int BuildDestinationPrefix(const char* destinationFolder, char* prefix);

// The signature block and the record count: 0, -8 or -9.
int ReadArchiveHeader(ArchiveReader& reader, int32_t& recordCount);

// The fields of a FILE or FLDR record between its tag and its chunks (FILE)
// or its end tag (FLDR).
struct RecordHead {
    uint32_t attributes = 0;
    FILETIME creationTime = {};
    FILETIME lastWriteTime = {};
    uint64_t originalSize = 0; // FILE records only
};

// Reads a record's head once its tag has been read. The name goes into
// target (kFpPathBufferSize bytes, zero-filled first, so a name without its
// NUL still ends) right after prefix. Returns 0; -8 for a short read; -9 when
// the prefix and name do not fit the buffer or IsSafeRecordName refuses the
// name (checked after every field is read, before anything is made).
int ReadRecordHead(ArchiveReader& reader, bool fileRecord, const char* prefix, char* target,
                   RecordHead& head);

// The chunk length and original length after an "FPCK" tag, refused (-9)
// before any data is read when the data would not fit the chunk buffer or the
// content could not be counted. Returns 0, -8 or -9; dataLength = L - 4.
int ReadChunkHead(ArchiveReader& reader, uint32_t& dataLength, uint32_t& originalLength);

// What TestFolderPackHandle saw of one record once it was read whole.
struct RecordSummary {
    bool folder = false;
    const char* name = nullptr; // as the record gives it, relative
    RecordHead head;
    uint32_t chunks = 0;
    uint32_t stored = 0;
    uint32_t compressed = 0;
    uint64_t chunkData = 0; // bytes of chunk data, D summed
};
typedef void (*RecordVisitor)(void* context, const RecordSummary& record);

enum class ChunkCheck {
    Lengths, // chunk heads and data read, compressed data taken as it is
    Inflate, // every compressed chunk inflated and held to its original length
};

// Walks an archive open for reading at its start as ExtractFolderPackHandle
// does, and writes nothing: for the same bytes, the same result as the
// unpacker wherever the disk does not stop it first (-1, -2 from a write, -7,
// -11), given the same destination, since its length decides which names
// fit. A null destination stands for the shortest prefix any destination
// gives (one backslash): then only names that fit no destination are refused
// for their length. The visitor, when given, sees each record in turn.
int TestFolderPackHandle(HANDLE archive, const char* destinationFolder, ChunkCheck check,
                         RecordVisitor visitor, void* context);
