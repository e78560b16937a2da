// The Folder Pack unpacker: reads the archive field by field and writes its
// folders and files into the destination folder.
#include "FolderPack.h"

#include "ChunkInflater.h"
#include "DirCreate.h"
#include "FolderPackReader.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "Owners.h"

#include <string.h>

namespace {

// What a file created with FILE_ATTRIBUTE_NORMAL carries: a record that says
// just this needs no call to set it.
constexpr DWORD kNewFileAttributes = FILE_ATTRIBUTE_ARCHIVE;
constexpr size_t kNoFolder = static_cast<size_t>(-1);

// What one walk of an archive keeps from record to record: the reader, the
// chunk buffer (allocated when the first file's target has been created), the
// inflater with its piece buffer, and the folder that the previous file
// record found or made (with its backslash).
struct WalkState {
    explicit WalkState(HANDLE archive, char* readAhead = nullptr)
        : reader(archive, readAhead, kFpReadAheadSize) {}
    ArchiveReader reader;
    HeapBlock chunkBuffer;
    ChunkInflater inflater;
    char knownFolder[kFpPathBufferSize];
    size_t knownFolderLength = kNoFolder;
    const UnpackOptions* options = nullptr;
};

// Keeps the target of a failed record for the caller.
int NoteFailure(const WalkState& state, const char* target, int result) {
    const UnpackOptions* options = state.options;
    if (result < 0 && options != nullptr && options->failedTarget != nullptr &&
        options->failedTargetCapacity > 0) {
        const size_t n = CutToWholeCharacters(target, options->failedTargetCapacity - 1);
        memcpy(options->failedTarget, target, n);
        options->failedTarget[n] = '\0';
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

// The file that a FILE record writes: the target itself when it is new, or
// the new file beside an existing target. Removed again unless kept, so that
// a failing record leaves nothing of it.
class PendingFile {
  public:
    PendingFile() = default;
    ~PendingFile() { Discard(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Creates the file for writing, with no sharing. The path must outlive
    // this owner. False when it cannot be created: then nothing is owned, so
    // a file that was there already is never removed.
    bool Create(const char* path, DWORD disposition) {
        handle_.Attach(CreateFileLong(path, GENERIC_WRITE, 0, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        path_ = handle_.IsValid() ? path : nullptr;
        return path_ != nullptr;
    }
    HANDLE Handle() const { return handle_.Get(); }
    const char* Path() const { return path_; }
    void Close() { handle_.Close(); }
    // The file stays: it is complete and in its place.
    void Keep() { path_ = nullptr; }
    void Discard() {
        handle_.Close();
        if (path_ != nullptr)
            DeleteFileLong(path_);
        path_ = nullptr;
    }

  private:
    UniqueHandle handle_;
    const char* path_ = nullptr;
};

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesLong(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Makes the folder of a target (its first folderLength bytes, up to and
// including the last backslash) exist, with as few calls as the walk allows:
// the previous file's folder takes none, a new folder below an existing one
// takes one creation, and only a folder deeper down the walk along its path.
void MakeTargetFolder(WalkState& state, const char* target, size_t folderLength) {
    if (folderLength == state.knownFolderLength &&
        memcmp(target, state.knownFolder, folderLength) == 0)
        return;
    char folder[kFpPathBufferSize];
    memcpy(folder, target, folderLength - 1);
    folder[folderLength - 1] = '\0';
    bool exists = CreateDirectoryLong(folder, nullptr) != FALSE;
    folder[folderLength - 1] = '\\';
    folder[folderLength] = '\0';
    if (!exists && !IsFolder(folder)) {
        MakeDirectoryPath(folder);
        exists = IsFolder(folder);
    }
    if (exists) {
        memcpy(state.knownFolder, folder, folderLength + 1);
        state.knownFolderLength = folderLength;
    } else {
        state.knownFolderLength = kNoFolder;
    }
}

bool WritePiece(void* file, const char* piece, uint32_t length) {
    DWORD put = 0;
    return WriteFile(static_cast<HANDLE>(file), piece, length, &put, nullptr) && put == length;
}

// Copies a stored chunk's data from the archive to the file a piece at a
// time, each written while it is still in the cache. The whole chunk is read
// even after a write has failed, since a cut archive (-8) comes first.
int CopyStoredChunk(ArchiveReader& reader, HANDLE file, char* buffer, uint32_t length) {
    bool written = true;
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece =
            length - done < kFpInflatePieceSize ? length - done : kFpInflatePieceSize;
        if (!reader.Read(buffer, piece))
            return kFpTruncated;
        written = written && WritePiece(file, buffer, piece);
        done += piece;
    }
    return written ? kFpOk : kFpWriteFailed;
}

// Puts the complete new file in the place of the existing target (whose
// attributes were existing) and gives it the record's times and attributes.
// False when it cannot take the place: the target then keeps its content and
// attributes, and the new file is still the owner's to remove.
bool PutInPlace(PendingFile& file, const char* target, DWORD existing, const RecordHead& head) {
    file.Close();
    // The platform replaces no read-only file.
    const bool readOnly = (existing & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly)
        SetFileAttributesLong(target, existing & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (!MoveFileExLong(file.Path(), target, MOVEFILE_REPLACE_EXISTING)) {
        if (readOnly)
            SetFileAttributesLong(target, existing);
        return false;
    }
    file.Keep();
    // A file system that tunnels gives a file the creation time of the one
    // it replaced under the same name: the record's times once more.
    {
        UniqueHandle placed(CreateFileLong(target, FILE_WRITE_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (placed.IsValid())
            SetFileTime(placed.Get(), &head.creationTime, nullptr, &head.lastWriteTime);
    }
    // The new file was made as new files are: only other attributes need a
    // call.
    if (head.attributes != kNewFileAttributes)
        SetFileAttributesLong(target, head.attributes);
    return true;
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

    // An existing folder needs nothing made.
    DWORD current = GetFileAttributesLong(target);
    if (current == INVALID_FILE_ATTRIBUTES || !(current & FILE_ATTRIBUTE_DIRECTORY)) {
        MakeDirectoryPath(target);
        current = GetFileAttributesLong(target);
    }
    // A file in the folder's place is not the record's to stamp.
    if (current != INVALID_FILE_ATTRIBUTES && (current & FILE_ATTRIBUTE_DIRECTORY)) {
        // A read-only folder would refuse its new times.
        if (current & FILE_ATTRIBUTE_READONLY)
            SetFileAttributesLong(target, current & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        {
            UniqueHandle folder(CreateFileLong(target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            if (folder.IsValid())
                SetFileTime(folder.Get(), &head.creationTime, nullptr, &head.lastWriteTime);
        }
        SetFileAttributesLong(target, head.attributes);
    }

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

int ExtractFileContent(WalkState& state, const char* target, const RecordHead& head,
                       OverwriteCallback overwriteCallback, ProgressCallback progressCallback);

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
        ExtractFileContent(state, target, head, overwriteCallback, progressCallback));
}

// A FILE record once its head is read: its folder, its file and its chunks.
int ExtractFileContent(WalkState& state, const char* target, const RecordHead& head,
                       OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    const uint64_t originalSize = head.originalSize;

    if (progressCallback != nullptr)
        progressCallback(0, 0, 0, originalSize);

    // The prefix ends in a backslash, so the target has one.
    const size_t targetLength = strlen(target);
    const size_t folderLength =
        static_cast<size_t>(MbcsFindLast(target, targetLength, '\\') - target) + 1;
    MakeTargetFolder(state, target, folderLength);

    // A new target is written in place at once. An existing one is replaced
    // only with the caller's leave, by a new file beside it that takes its
    // place when complete; until then the target is not touched.
    char newFile[kFpPathBufferSize + sizeof kFpNewFileName];
    PendingFile file;
    DWORD existing = INVALID_FILE_ATTRIBUTES;
    if (!file.Create(target, CREATE_NEW)) {
        existing = GetFileAttributesLong(target);
        if (existing == INVALID_FILE_ATTRIBUTES)
            return kFpCreateFailed;
        if (overwriteCallback == nullptr || overwriteCallback(target) != kFpAnswerYes)
            return kFpOverwriteRefused;
        if (existing & FILE_ATTRIBUTE_DIRECTORY)
            return kFpCreateFailed;
        memcpy(newFile, target, folderLength);
        memcpy(newFile + folderLength, kFpNewFileName, sizeof kFpNewFileName);
        // A leftover of a killed unpack is made plain and written over, so
        // that the new file has no attributes but those of a new file.
        if (!file.Create(newFile, CREATE_NEW)) {
            SetFileAttributesLong(newFile, FILE_ATTRIBUTE_NORMAL);
            if (!file.Create(newFile, CREATE_ALWAYS))
                return kFpCreateFailed;
        }
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
            if (dataLength == originalLength) {
                const int copied =
                    CopyStoredChunk(state.reader, file.Handle(), chunkBuffer, dataLength);
                if (copied != kFpOk)
                    return copied;
            } else {
                // Compressed content goes out in pieces as it is inflated,
                // whatever its original length.
                if (!state.reader.Read(chunkBuffer, dataLength))
                    return kFpTruncated;
                if (!state.inflater.Inflate(chunkBuffer, dataLength, originalLength, WritePiece,
                                            file.Handle()))
                    return kFpWriteFailed;
            }
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
            SetFileTime(file.Handle(), &head.creationTime, nullptr, &head.lastWriteTime);
            if (existing == INVALID_FILE_ATTRIBUTES) {
                file.Close();
                file.Keep();
                if (head.attributes != kNewFileAttributes)
                    SetFileAttributesLong(target, head.attributes);
            } else if (!PutInPlace(file, target, existing, head)) {
                return kFpCreateFailed;
            }
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
