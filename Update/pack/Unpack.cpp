// The Folder Pack unpacker: reads the archive field by field and writes its
// folders and files into the destination folder.
#include "FolderPack.h"

#include "DirCreate.h"
#include "FolderPackReader.h"
#include "LongPath.h"
#include "Owners.h"
#include "PathHelpers.h"

#include <mbstring.h>
#include <string.h>
#include <zlib.h>

namespace {

// What one walk of an archive keeps from record to record: the reader, the
// chunk buffer (allocated when the first file's target has been created),
// the block that chunks are inflated into, and the folder that the previous
// file record found or made.
struct WalkState {
    explicit WalkState(HANDLE archive, char* readAhead = nullptr)
        : reader(archive, readAhead, kFpReadAheadSize) {
        knownFolder[0] = '\0';
    }
    ArchiveReader reader;
    HeapBlock chunkBuffer;
    HeapBlock content;
    uint32_t contentCapacity = 0;
    char knownFolder[kFpPathBufferSize];
    const UnpackOptions* options = nullptr;
};

// Keeps the target of a failed record for the caller.
int NoteFailure(const WalkState& state, const char* target, int result) {
    if (result < 0 && state.options != nullptr && state.options->failedTarget != nullptr &&
        state.options->failedTargetCapacity > 0) {
        const size_t n = strnlen(target, state.options->failedTargetCapacity - 1);
        memcpy(state.options->failedTarget, target, n);
        state.options->failedTarget[n] = '\0';
    }
    return result;
}

// A record of the diverted name goes to its other name, in the same folder.
bool Divert(const WalkState& state, const char* prefix, char* target) {
    const UnpackOptions* options = state.options;
    if (options == nullptr || options->divertName == nullptr || options->divertTo == nullptr)
        return true;
    const size_t prefixLength = strlen(prefix);
    if (_stricmp(target + prefixLength, options->divertName) != 0)
        return true;
    const size_t length = strlen(options->divertTo);
    if (prefixLength + length >= kFpPathBufferSize)
        return false;
    memset(target + prefixLength, 0, kFpPathBufferSize - prefixLength);
    memcpy(target + prefixLength, options->divertTo, length);
    return true;
}

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

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesLong(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Inflates into a block of originalLength bytes; true only when the stream
// yields exactly that many, since a stream that ends early would leave part
// of the content undefined.
bool InflateExactly(char* block, const void* data, uint32_t dataLength, uint32_t originalLength) {
    uLongf produced = originalLength;
    const int status = uncompress(reinterpret_cast<Bytef*>(block), &produced,
                                  static_cast<const Bytef*>(data), dataLength);
    return status == Z_OK && produced == originalLength;
}
} // namespace

char* InflateChunk(const void* data, uint32_t dataLength, uint32_t originalLength) {
    HeapBlock block = HeapBlock::Zeroed(originalLength);
    if (!block.IsValid() || !InflateExactly(block.Bytes(), data, dataLength, originalLength))
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
    if (!InflateExactly(state.content.Bytes(), data, dataLength, originalLength))
        return nullptr;
    return state.content.Bytes();
}

int ExtractFolderRecordWith(WalkState& state, const char* destinationFolder) {
    char prefix[kFpPathBufferSize];
    if (!BuildDestinationPrefix(destinationFolder, prefix))
        return kFpBadFormat;

    char target[kFpPathBufferSize];
    RecordHead head;
    const int headResult = ReadRecordHead(state.reader, false, prefix, target, head);
    if (headResult != kFpOk)
        return headResult;

    MakeDirectoryPath(target);
    // A read-only folder would refuse its new times.
    const DWORD current = GetFileAttributesLong(target);
    if (current != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesLong(target, current & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    {
        UniqueHandle folder(CreateFileLong(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (folder.IsValid())
            SetFileTime(folder.Get(), &head.creationTime, nullptr, &head.lastWriteTime);
    }
    SetFileAttributesLong(target, head.attributes);

    uint32_t tag = 0;
    if (!state.reader.ReadValue(tag))
        return kFpTruncated;
    if (tag != kFpTagEnd)
        return kFpBadFormat;
    uint32_t trailer = 0;
    if (!state.reader.ReadValue(trailer))
        return kFpTruncated;
    return kFpOk;
}

int ExtractFileRecordBody(WalkState& state, const char* prefix, char* target,
                          const RecordHead& head, OverwriteCallback overwriteCallback,
                          ProgressCallback progressCallback);

int ExtractFileRecordWith(WalkState& state, const char* destinationFolder,
                          OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    char prefix[kFpPathBufferSize];
    if (!BuildDestinationPrefix(destinationFolder, prefix))
        return kFpBadFormat;

    char target[kFpPathBufferSize];
    RecordHead head;
    const int headResult = ReadRecordHead(state.reader, true, prefix, target, head);
    if (headResult != kFpOk)
        return headResult;
    if (!Divert(state, prefix, target))
        return kFpBadFormat;
    return NoteFailure(
        state, target,
        ExtractFileRecordBody(state, prefix, target, head, overwriteCallback, progressCallback));
}

int ExtractFileRecordBody(WalkState& state, const char*, char* target, const RecordHead& head,
                          OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    const uint64_t originalSize = head.originalSize;

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
        if (!IsFolder(folder))
            MakeDirectoryPath(folder);
        if (IsFolder(folder))
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
        if (!state.reader.ReadValue(tag))
            return kFpTruncated;
        if (tag == kFpTagChunk) {
            uint32_t dataLength = 0, originalLength = 0;
            const int chunkResult = ReadChunkHead(state.reader, dataLength, originalLength);
            if (chunkResult != kFpOk)
                return chunkResult;
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
            if (!state.reader.ReadValue(trailer))
                return kFpTruncated;
            // Times while the file is still open for writing; the record's
            // attributes (perhaps read-only) only after it is closed.
            SetFileTime(file.Get(), &head.creationTime, nullptr, &head.lastWriteTime);
            file.Close();
            SetFileAttributesLong(target, head.attributes);
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

namespace {
int WalkArchive(const char* destinationFolder, HANDLE archive, const UnpackOptions& options) {
    const OverwriteCallback overwriteCallback = options.overwriteCallback;
    const ProgressCallback progressCallback = options.progressCallback;
    if (options.failedTarget != nullptr && options.failedTargetCapacity > 0)
        options.failedTarget[0] = '\0';
    if (!UniqueHandle::IsValid(archive))
        return kFpCreateFailed;
    // Without the read-ahead block the walk still works, a field at a time.
    HeapBlock readAhead(malloc(kFpReadAheadSize));
    WalkState state(archive, readAhead.Bytes());
    state.options = &options;
    int32_t recordCount = 0;
    const int headerResult = ReadArchiveHeader(state.reader, recordCount);
    if (headerResult != kFpOk)
        return headerResult;
    for (int32_t record = 1; record <= recordCount; ++record) {
        uint32_t tag = 0;
        if (!state.reader.ReadValue(tag))
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
} // namespace

int ExtractFolderPackHandle(const char* destinationFolder, HANDLE archive,
                            OverwriteCallback overwriteCallback,
                            ProgressCallback progressCallback) {
    UnpackOptions options;
    options.overwriteCallback = overwriteCallback;
    options.progressCallback = progressCallback;
    return WalkArchive(destinationFolder, archive, options);
}

int ExtractFolderPack(const char* destinationFolder, const char* archivePath,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    UnpackOptions options;
    options.overwriteCallback = overwriteCallback;
    options.progressCallback = progressCallback;
    return ExtractFolderPackWith(destinationFolder, archivePath, options);
}

int ExtractFolderPackWith(const char* destinationFolder, const char* archivePath,
                          const UnpackOptions& options) {
    if (archivePath == nullptr)
        return kFpOpenFailed;
    // OPEN_ALWAYS: a missing archive becomes an empty file and ends at the
    // signature.
    UniqueHandle archive(CreateFileLong(archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive.IsValid())
        return kFpOpenFailed;
    return WalkArchive(destinationFolder, archive.Get(), options);
}
