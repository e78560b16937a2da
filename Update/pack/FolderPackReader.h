// Reading Folder Pack archives: the one reader of the format and the one
// walk over its records. Unpacking, testing and listing are sinks of the same
// walk, so that each accepts and refuses exactly the same archives.
#pragma once

#include "FolderPack.h"
#include "Owners.h"

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

    // Reads an archive that is already in memory, with no platform reads.
    ArchiveReader(const char* data, DWORD size)
        : archive_(nullptr), buffer_(const_cast<char*>(data)), capacity_(0), end_(size) {}

    bool Read(void* out, DWORD length);
    template <typename T> bool ReadValue(T& value) { return Read(&value, sizeof value); }
    // Passes over length bytes without reading them. Past the end is no
    // failure here: the next read finds it.
    bool Skip(DWORD length);

  private:
    HANDLE archive_;
    char* buffer_;
    DWORD capacity_;
    DWORD position_ = 0;
    DWORD end_ = 0;
};

// The destination prefix: destinationFolder with one backslash at its end,
// in a buffer of kFpPathBufferSize bytes; false when it does not fit.
bool BuildDestinationPrefix(const char* destinationFolder, char* prefix);

// The signature block and the record count: 0, -8 or -9.
int ReadArchiveHeader(ArchiveReader& reader, int32_t& recordCount);

enum class RecordKind { kFile, kFolder };

// The fields of a FILE or FLDR record between its tag and its chunks (FILE)
// or its end tag (FLDR).
struct RecordHead {
    uint32_t attributes = 0;
    FILETIME creationTime = {};
    FILETIME lastWriteTime = {};
    uint64_t originalSize = 0; // FILE records only
};

// Reads a record's head once its tag has been read. target holds the
// destination prefix in its first prefixLength bytes; the name goes right
// after it, the rest of the kFpPathBufferSize bytes zero-filled first (so a
// name without its NUL still ends). Returns 0, -8 for a short read, -9 when
// the name's length does not fit after the prefix. The name itself is not
// judged here (IsSafeTarget).
int ReadRecordHead(ArchiveReader& reader, RecordKind kind, char* target, size_t prefixLength,
                   RecordHead& head);
// Whether the target that ReadRecordHead left ends within its buffer and the
// name after the prefix is one the unpacker takes (IsSafeRecordName).
bool IsSafeTarget(const char* target, size_t prefixLength);

// The chunk length and original length after an "FPCK" tag, refused (-9)
// before any data is read when the data would not fit the chunk buffer or the
// content could not be counted. Returns 0, -8 or -9; dataLength = L - 4.
int ReadChunkHead(ArchiveReader& reader, uint32_t& dataLength, uint32_t& originalLength);

// One record as the walk reads it.
struct PackRecord {
    int32_t number = 0; // from 1
    int32_t count = 0;  // records in the archive
    RecordKind kind = RecordKind::kFile;
    bool nameRefused = false; // the unpacker would refuse it (RefusedNames::kGoOn)
    RecordHead head;
    char* target = nullptr;     // the destination prefix and the name
    const char* name = nullptr; // the name, within target
    // Counted as the chunks are read.
    uint32_t chunks = 0;
    uint32_t stored = 0;
    uint32_t compressed = 0;
    uint64_t chunkData = 0; // bytes of chunk data, D summed

    bool Folder() const { return kind == RecordKind::kFolder; }
};

// What one use of the walk does with the records. Each call returns 0 to go
// on, or a result code that ends the walk with it: one of the unpacker's, or
// kFpWalkStopped when the sink has seen what it wanted.
class RecordSink {
  public:
    // The record's head is read and its name judged.
    virtual int OnRecord(PackRecord& record) = 0;
    // One chunk's data: dataLength bytes at the reader's position, which the
    // sink reads or skips.
    virtual int OnChunk(PackRecord& record, ArchiveReader& reader, uint32_t dataLength,
                        uint32_t originalLength) = 0;
    // The record is read to its end: its end tag, the size check, the
    // trailer.
    virtual int OnRecordEnd(PackRecord& record) = 0;

  protected:
    ~RecordSink() = default;
};

// No failure: a sink ended the walk early.
constexpr int kFpWalkStopped = 1;

// Whether a walk goes on after a record whose name the unpacker refuses.
enum class RefusedNames { kStop, kGoOn };

// Walks an archive from its start: the header, then each record's head,
// chunks and end, handed to the sink. The record's target lives only as
// long as the walk. The names are judged for the
// destination given (its length decides which names fit), or, with none,
// for the shortest prefix any destination gives (one backslash). Returns 0
// or the first result code; the record under way when it failed, if any, is
// left in *failed.
int WalkFolderPack(ArchiveReader& reader, const char* destinationFolder, RefusedNames refused,
                   RecordSink& sink, PackRecord* failed = nullptr);
// One record whose tag has just been read, as the walk reads it.
int WalkOneRecord(ArchiveReader& reader, RecordKind kind, const char* destinationFolder,
                  RecordSink& sink);

// Reads one chunk's data into a buffer of kFpMaxChunkData bytes, allocated
// when the first chunk comes.
int ReadChunkData(ArchiveReader& reader, HeapBlock& buffer, uint32_t dataLength);

enum class ChunkCheck {
    kLengths, // chunk heads and data read, compressed data taken as it is
    kInflate, // every compressed chunk inflated and held to its original length
};

// Sees each record of a test walk once it was read whole.
typedef void (*RecordVisitor)(void* context, const PackRecord& record);

// The walk as the unpacker makes it, writing nothing: for the same bytes,
// the same result as the unpacker wherever the disk does not stop it first
// (-1, -2 from a write, -7, -11), given the same destination (see
// WalkFolderPack). The visitor, when given, sees each record in turn.
int TestFolderPack(ArchiveReader& reader, const char* destinationFolder, ChunkCheck check,
                   RecordVisitor visitor, void* context);
// The same over an archive open for reading at its start. -1 for no handle.
int TestFolderPackHandle(HANDLE archive, const char* destinationFolder, ChunkCheck check,
                         RecordVisitor visitor, void* context);
