// The Folder Pack unpacker: reads the archive field by field and writes its
// folders and files into the destination folder.
#include "FolderPack.h"

#include "DirCreate.h"
#include "LongPath.h"
#include "Owners.h"
#include "PathHelpers.h"

#include <mbstring.h>
#include <string.h>
#include <zlib.h>

namespace {

// Original lengths are signed 32-bit counts.
constexpr uint32_t kMaxOriginalLength = 0x7FFFFFFF;
// Read-ahead of the archive walk: the fixed fields of many small records come
// from one platform read.
constexpr DWORD kReadAheadSize = 64 * 1024;

// Reads the archive field by field. Each field gets exactly its width or the
// read counts as failed or short, as with one platform read per field. With
// no read-ahead buffer every field is one platform read.
class ArchiveReader {
  public:
    ArchiveReader(HANDLE archive, char* buffer, DWORD capacity)
        : archive_(archive), buffer_(buffer), capacity_(buffer != nullptr ? capacity : 0) {}

    bool Read(void* out, DWORD length) {
        char* to = static_cast<char*>(out);
        DWORD buffered = end_ - position_;
        if (buffered >= length) {
            memcpy(to, buffer_ + position_, length);
            position_ += length;
            return true;
        }
        if (buffered > 0) {
            memcpy(to, buffer_ + position_, buffered);
            to += buffered;
            length -= buffered;
        }
        position_ = end_ = 0;
        if (length >= capacity_) {
            DWORD got = 0;
            return ReadFile(archive_, to, length, &got, nullptr) && got == length;
        }
        while (length > 0) {
            DWORD got = 0;
            if (!ReadFile(archive_, buffer_, capacity_, &got, nullptr) || got == 0)
                return false;
            const DWORD take = got < length ? got : length;
            memcpy(to, buffer_, take);
            to += take;
            length -= take;
            position_ = take;
            end_ = got;
        }
        return true;
    }

  private:
    HANDLE archive_;
    char* buffer_;
    DWORD capacity_;
    DWORD position_ = 0;
    DWORD end_ = 0;
};

template <typename T> bool ReadValue(ArchiveReader& reader, T& value) {
    return reader.Read(&value, sizeof value);
}

// What one walk of an archive keeps from record to record: the reader, the
// chunk buffer (allocated when the first file's target has been created),
// the block that chunks are inflated into, and the folder that the previous
// file record found or made.
struct WalkState {
    explicit WalkState(HANDLE archive, char* readAhead = nullptr)
        : reader(archive, readAhead, kReadAheadSize) {
        knownFolder[0] = '\0';
    }
    ArchiveReader reader;
    HeapBlock chunkBuffer;
    HeapBlock content;
    uint32_t contentCapacity = 0;
    char knownFolder[kFpPathBufferSize];
};

// Destination folder with one backslash at its end; 0 when it does not fit.
int BuildDestinationPrefix(const char* destinationFolder, char* prefix) {
    if (destinationFolder == nullptr)
        return 0;
    const size_t length = strnlen(destinationFolder, kFpPathBufferSize);
    if (length >= kFpPathBufferSize)
        return 0;
    memcpy(prefix, destinationFolder, length + 1);
    return AppendBackslash(prefix, kFpPathBufferSize);
}

// Reads the name length and the name into target after the prefix. The
// target buffer is zero-filled, so a name without its NUL still ends.
int ReadRecordName(ArchiveReader& reader, const char* prefix, char* target) {
    uint32_t nameLength = 0;
    if (!ReadValue(reader, nameLength))
        return kFpTruncated;
    const size_t prefixLength = strlen(prefix);
    if (nameLength > kFpPathBufferSize - prefixLength)
        return kFpBadFormat;
    memset(target, 0, kFpPathBufferSize);
    memcpy(target, prefix, prefixLength);
    if (!reader.Read(target + prefixLength, nameLength))
        return kFpTruncated;
    return kFpOk;
}

// The whole target ends within the buffer and its name stays inside.
bool IsUsableTarget(const char* target, size_t prefixLength) {
    return strnlen(target, kFpPathBufferSize) < kFpPathBufferSize &&
           IsSafeRecordName(target + prefixLength) != 0;
}

// A component of dots and spaces with two dots or more climbs out (the
// platform trims trailing dots and spaces).
bool IsClimbingComponent(const unsigned char* begin, const unsigned char* end) {
    int dots = 0;
    for (const unsigned char* p = begin; p < end; ++p) {
        if (*p == '.')
            ++dots;
        else if (*p != ' ')
            return false;
    }
    return dots >= 2;
}

} // namespace

int IsSafeRecordName(const char* name) {
    if (name == nullptr || name[0] == '\0' || name[0] == '\\' || name[0] == '/')
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    const unsigned char* component = p;
    while (*p != '\0') {
        // A trail byte is 0x40 or more: it may be 0x5C, never '/', '.' or ':'.
        if (IsDBCSLeadByte(*p) && p[1] >= 0x40) {
            p += 2;
            continue;
        }
        if (*p == ':')
            return 0;
        if (*p == '\\' || *p == '/') {
            if (IsClimbingComponent(component, p))
                return 0;
            component = p + 1;
        }
        ++p;
    }
    return IsClimbingComponent(component, p) ? 0 : 1;
}

char* InflateChunk(const void* data, uint32_t dataLength, uint32_t originalLength) {
    HeapBlock block = HeapBlock::Zeroed(originalLength);
    if (!block.IsValid())
        return nullptr;
    uLongf produced = originalLength;
    const int status = uncompress(reinterpret_cast<Bytef*>(block.Bytes()), &produced,
                                  static_cast<const Bytef*>(data), dataLength);
    // A stream that ends early would leave part of the content undefined.
    if (status != Z_OK || produced != originalLength)
        return nullptr;
    return static_cast<char*>(block.Detach());
}

namespace {

// InflateChunk into the walk's block, which grows to the largest original
// length met; null when the chunk does not inflate to exactly that length.
const char* InflateIntoBlock(WalkState& state, const void* data, uint32_t dataLength,
                             uint32_t originalLength) {
    if (originalLength > state.contentCapacity || !state.content.IsValid()) {
        state.content.Reset();
        state.contentCapacity = 0;
        state.content = HeapBlock::Zeroed(originalLength);
        if (!state.content.IsValid())
            return nullptr;
        state.contentCapacity = originalLength;
    }
    uLongf produced = originalLength;
    const int status = uncompress(reinterpret_cast<Bytef*>(state.content.Bytes()), &produced,
                                  static_cast<const Bytef*>(data), dataLength);
    if (status != Z_OK || produced != originalLength)
        return nullptr;
    return state.content.Bytes();
}

int ExtractFolderRecordWith(WalkState& state, const char* destinationFolder) {
    char prefix[kFpPathBufferSize];
    if (!BuildDestinationPrefix(destinationFolder, prefix))
        return kFpBadFormat;

    uint32_t firstField = 0;
    if (!ReadValue(state.reader, firstField))
        return kFpTruncated;
    char target[kFpPathBufferSize];
    const int nameResult = ReadRecordName(state.reader, prefix, target);
    if (nameResult != kFpOk)
        return nameResult;
    uint16_t reserved = 0;
    uint32_t attributes = 0;
    FILETIME creationTime = {}, lastWriteTime = {};
    if (!ReadValue(state.reader, reserved) || !ReadValue(state.reader, attributes) ||
        !ReadValue(state.reader, creationTime) || !ReadValue(state.reader, lastWriteTime))
        return kFpTruncated;
    if (!IsUsableTarget(target, strlen(prefix)))
        return kFpBadFormat;

    MakeDirectoryPath(target);
    // A read-only folder would refuse its new times.
    const DWORD current = GetFileAttributesLong(target);
    if (current != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesLong(target, current & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    {
        UniqueHandle folder(CreateFileLong(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (folder.IsValid())
            SetFileTime(folder.Get(), &creationTime, nullptr, &lastWriteTime);
    }
    SetFileAttributesLong(target, attributes);

    uint32_t tag = 0;
    if (!ReadValue(state.reader, tag))
        return kFpTruncated;
    if (tag != kFpTagEnd)
        return kFpBadFormat;
    uint32_t trailer = 0;
    if (!ReadValue(state.reader, trailer))
        return kFpTruncated;
    return kFpOk;
}

int ExtractFileRecordWith(WalkState& state, const char* destinationFolder,
                          OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    char prefix[kFpPathBufferSize];
    if (!BuildDestinationPrefix(destinationFolder, prefix))
        return kFpBadFormat;

    uint64_t restLength = 0;
    if (!ReadValue(state.reader, restLength))
        return kFpTruncated;
    char target[kFpPathBufferSize];
    const int nameResult = ReadRecordName(state.reader, prefix, target);
    if (nameResult != kFpOk)
        return nameResult;
    uint16_t reserved = 0;
    uint32_t attributes = 0;
    FILETIME creationTime = {}, lastWriteTime = {};
    uint64_t originalSize = 0;
    if (!ReadValue(state.reader, reserved) || !ReadValue(state.reader, attributes) ||
        !ReadValue(state.reader, creationTime) || !ReadValue(state.reader, lastWriteTime) ||
        !ReadValue(state.reader, originalSize))
        return kFpTruncated;
    if (!IsUsableTarget(target, strlen(prefix)))
        return kFpBadFormat;

    if (progressCallback != nullptr)
        progressCallback(0, 0, 0, originalSize);

    // The target's folder: the path up to and including its last backslash.
    char folder[kFpPathBufferSize];
    memcpy(folder, target, kFpPathBufferSize);
    unsigned char* lastSeparator = _mbsrchr(reinterpret_cast<unsigned char*>(folder), '\\');
    if (lastSeparator != nullptr)
        lastSeparator[1] = '\0';
    // An existing folder has every folder above it: nothing to create. The
    // folder of the previous file record is known to exist.
    if (strcmp(folder, state.knownFolder) != 0) {
        DWORD folderAttributes = GetFileAttributesLong(folder);
        if (folderAttributes == INVALID_FILE_ATTRIBUTES ||
            !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            MakeDirectoryPath(folder);
            folderAttributes = GetFileAttributesLong(folder);
        }
        if (folderAttributes != INVALID_FILE_ATTRIBUTES &&
            (folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
            memcpy(state.knownFolder, folder, kFpPathBufferSize);
        else
            state.knownFolder[0] = '\0';
    }

    // A new target is created at once; one that exists (or any other
    // failure) takes the way of asking, deleting and re-creating.
    UniqueHandle file(CreateFileLong(target, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        const DWORD existing = GetFileAttributesLong(target);
        if (existing != INVALID_FILE_ATTRIBUTES) {
            if (overwriteCallback == nullptr || overwriteCallback(target) != kFpAnswerYes)
                return kFpOverwriteRefused;
            SetFileAttributesLong(target, existing & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
            DeleteFileLong(target);
        }
        file.Attach(CreateFileLong(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid())
            return kFpCreateFailed;
    }
    if (!state.chunkBuffer.IsValid()) {
        state.chunkBuffer = HeapBlock::Zeroed(kFpMaxChunkData);
        if (!state.chunkBuffer.IsValid())
            return kFpNoMemory;
    }
    char* const chunkBuffer = state.chunkBuffer.Bytes();

    uint64_t bytesWritten = 0;
    for (;;) {
        uint32_t tag = 0;
        if (!ReadValue(state.reader, tag))
            return kFpTruncated;
        if (tag == kFpTagChunk) {
            uint32_t chunkLength = 0, originalLength = 0;
            if (!ReadValue(state.reader, chunkLength) || !ReadValue(state.reader, originalLength))
                return kFpTruncated;
            // Refused before any data is read: it would not fit the buffer,
            // or its content could not be counted.
            if (chunkLength < 4 || chunkLength - 4 > kFpMaxChunkData ||
                originalLength > kMaxOriginalLength)
                return kFpBadFormat;
            const uint32_t dataLength = chunkLength - 4;
            if (!state.reader.Read(chunkBuffer, dataLength))
                return kFpTruncated;
            const char* content = chunkBuffer;
            if (dataLength != originalLength) {
                content = InflateIntoBlock(state, chunkBuffer, dataLength, originalLength);
                if (content == nullptr)
                    return kFpWriteFailed;
            }
            DWORD put = 0;
            if (!WriteFile(file.Get(), content, originalLength, &put, nullptr) ||
                put != originalLength)
                return kFpWriteFailed;
            bytesWritten += originalLength;
            if (progressCallback != nullptr)
                progressCallback(0, 0, bytesWritten, originalSize);
        } else if (tag == kFpTagEnd) {
            if (bytesWritten != originalSize)
                return kFpSizeMismatch;
            uint32_t trailer = 0;
            if (!ReadValue(state.reader, trailer))
                return kFpTruncated;
            // Times while the file is still open for writing; the record's
            // attributes (perhaps read-only) only after it is closed.
            SetFileTime(file.Get(), &creationTime, nullptr, &lastWriteTime);
            file.Close();
            SetFileAttributesLong(target, attributes);
            if (progressCallback != nullptr)
                progressCallback(0, 0, originalSize, originalSize);
            return kFpOk;
        } else {
            return kFpBadFormat;
        }
    }
}

} // namespace

int ExtractFolderRecord(HANDLE archive, const char* destinationFolder) {
    WalkState state(archive);
    return ExtractFolderRecordWith(state, destinationFolder);
}

int ExtractFileRecord(HANDLE archive, const char* destinationFolder,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    // Without read-ahead: the handle stays just after the record.
    WalkState state(archive);
    return ExtractFileRecordWith(state, destinationFolder, overwriteCallback, progressCallback);
}

int ExtractFolderPackHandle(const char* destinationFolder, HANDLE archive,
                            OverwriteCallback overwriteCallback,
                            ProgressCallback progressCallback) {
    if (!UniqueHandle::IsValid(archive))
        return kFpCreateFailed;
    // Without the read-ahead block the walk still works, a field at a time.
    HeapBlock readAhead(malloc(kReadAheadSize));
    WalkState state(archive, readAhead.Bytes());
    char signature[16];
    if (!state.reader.Read(signature, sizeof signature))
        return kFpTruncated;
    if (memcmp(signature, kFpSignature, sizeof kFpSignature) != 0)
        return kFpBadFormat;
    int32_t recordCount = 0;
    if (!ReadValue(state.reader, recordCount))
        return kFpTruncated;
    for (int32_t record = 1; record <= recordCount; ++record) {
        uint32_t tag = 0;
        if (!ReadValue(state.reader, tag))
            return kFpTruncated;
        int result;
        if (tag == kFpTagFile)
            result = ExtractFileRecordWith(state, destinationFolder, overwriteCallback,
                                           progressCallback);
        else if (tag == kFpTagFolder)
            result = ExtractFolderRecordWith(state, destinationFolder);
        else
            return kFpBadFormat;
        if (result < 0)
            return result;
        if (progressCallback != nullptr)
            progressCallback(record, recordCount, 0, 0);
    }
    return kFpOk;
}

int ExtractFolderPack(const char* destinationFolder, const char* archivePath,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    if (archivePath == nullptr)
        return kFpOpenFailed;
    // OPEN_ALWAYS: a missing archive becomes an empty file and ends at the
    // signature.
    UniqueHandle archive(CreateFileLong(archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive.IsValid())
        return kFpOpenFailed;
    return ExtractFolderPackHandle(destinationFolder, archive.Get(), overwriteCallback,
                                   progressCallback);
}
