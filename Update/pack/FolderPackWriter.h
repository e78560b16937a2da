// Writes Folder Pack archives that the unpacker accepts: zlib level 1 chunks
// of at most 6 MiB of content, stored raw when the stream would not be
// shorter, exact rest lengths, zero reserved fields and trailers.
#pragma once

#include <windows.h>
#include <stdint.h>
#include <string>
#include <vector>

class FolderPackWriter {
  public:
    FolderPackWriter();
    ~FolderPackWriter();
    FolderPackWriter(const FolderPackWriter&) = delete;
    FolderPackWriter& operator=(const FolderPackWriter&) = delete;

    // The archive goes to a new file (replacing one that exists)...
    bool CreateArchiveFile(const char* path);
    // ...or into memory, here.
    void UseMemory(std::string* out);
    // Content bytes per chunk (1 to 6 MiB); applies to files added later.
    bool SetChunkSize(uint32_t bytes);

    bool AddFolder(const char* name, uint32_t attributes, FILETIME creationTime,
                   FILETIME lastWriteTime);
    bool AddFile(const char* name, uint32_t attributes, FILETIME creationTime,
                 FILETIME lastWriteTime, const void* content, uint64_t size);
    // Content read from a file (long paths too), piece by piece.
    bool AddFileFromPath(const char* name, uint32_t attributes, FILETIME creationTime,
                         FILETIME lastWriteTime, const char* sourcePath);
    // Writes the record count, flushes and closes a file archive. True when
    // every step since the start succeeded.
    bool Finish();
    int32_t RecordCount() const { return records_; }

  private:
    // Fills exactly length bytes of the next piece.
    typedef bool (*PieceReader)(void* context, char* buffer, uint32_t length);
    bool AddFileWith(const char* name, uint32_t attributes, FILETIME creationTime,
                     FILETIME lastWriteTime, uint64_t size, PieceReader reader, void* context);
    bool Put(const void* data, size_t length);
    bool Patch(uint64_t offset, const void* data, size_t length);
    template <typename T> bool PutValue(T value) { return Put(&value, sizeof value); }
    bool PutName(const char* name);

    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::string path_;
    std::string* memory_ = nullptr;
    uint64_t position_ = 0;
    int32_t records_ = 0;
    uint32_t chunkSize_;
    bool ok_ = true;
    std::vector<char> piece_;
    std::vector<unsigned char> stream_;
};
