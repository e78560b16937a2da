// The Folder Pack unpacker: the walk's sink that writes each folder and file
// into the destination folder, through the file layer.
#include "FolderPack.h"

#include "ChunkInflater.h"
#include "DirCreate.h"
#include "FolderPackReader.h"
#include "LongPath.h"
#include "Mbcs.h"
#include "Owners.h"
#include "SystemLibrary.h"

#include <string.h>
#include <utility>

namespace {

constexpr size_t kNoFolder = static_cast<size_t>(-1);

// The error of a record whose folder below the destination is a link or
// junction, or is reached through one.
constexpr DWORD kFolderIsLink = ERROR_CANT_RESOLVE_FILENAME;

// A final path as the platform gives it, "\\?\" and the longest target.
constexpr size_t kFinalPathSize = kFpPathBufferSize + 16;

typedef DWORD(WINAPI* FinalPathFunction)(HANDLE, LPSTR, DWORD, DWORD);

// Null on platforms without it (XP), whose links all show as reparse points.
FinalPathFunction FinalPath() {
    static const FinalPathFunction function = reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void*>(KernelFunction("GetFinalPathNameByHandleA")));
    return function;
}

// A folder opened so that, while the handle is held, neither it nor a folder
// above it can be renamed or removed: nobody can put a link in its place.
HANDLE OpenFolder(const char* path) {
    return DiskOpen(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
}

enum class Reach {
    kReached, // the folder is held
    kMissing, // it is not there and could not be made, or it is a file
    kLink,    // it, or a folder between the destination and it, is a link
};

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesLong(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Writes each record of a walk into the destination folder.
class UnpackSink : public RecordSink {
  public:
    explicit UnpackSink(UnpackOptions& options) : options_(options) {}

    int OnRecord(PackRecord& record) override {
        target_ = record.target;
        prefixLength_ = static_cast<size_t>(record.name - record.target);
        const int result = record.Folder() ? MakeFolder(record) : StartFile(record);
        // Kept for a failure, after the walk has let its buffer go.
        if (options_.failedTarget != nullptr && options_.failedTargetCapacity > 0) {
            const size_t n = CutToWholeCharacters(target_, options_.failedTargetCapacity - 1);
            memcpy(options_.failedTarget, target_, n);
            options_.failedTarget[n] = '\0';
        }
        return result;
    }
    int OnChunk(PackRecord& record, ArchiveReader& reader, uint32_t dataLength,
                uint32_t originalLength) override;
    int OnRecordEnd(PackRecord& record) override;

    // A single record is no step of a walk: no record progress for it.
    void WithoutRecordProgress() { recordProgress_ = false; }
    // Whether a record was under way, its head read.
    bool InRecord() const { return target_ != nullptr; }
    // The platform's error of the call that failed, 0 for none.
    DWORD Error() const { return error_; }

  private:
    int MakeFolder(const PackRecord& record);
    int StartFile(PackRecord& record);
    int FinishFile(const PackRecord& record);
    Reach MakeTargetFolder(const char* target, size_t folderLength);
    Reach ReachDestination(const char* target);
    Reach ReachFolder(char* folder, size_t length, UniqueHandle& held);
    Reach Judge(HANDLE folder, const char* relative);
    bool Divert(PackRecord& record);
    // A failure of the platform: its error is kept for the caller.
    int Failed(int result) {
        error_ = GetLastError();
        return result;
    }
    void Progress(int32_t item, int32_t count, uint64_t done, uint64_t total) {
        if (options_.progress != nullptr)
            options_.progress(options_.context, item, count, done, total);
    }
    static bool WritePiece(void* self, const char* piece, uint32_t length) {
        return static_cast<UnpackSink*>(self)->file_.Write(piece, length);
    }
    int CopyStoredChunk(ArchiveReader& reader, uint32_t length);

    UnpackOptions& options_;
    bool recordProgress_ = true;
    const char* target_ = nullptr;
    DWORD error_ = 0;
    HeapBlock chunkBuffer_;
    ChunkInflater inflater_;
    // The folder that the previous file record found or made, with its
    // backslash: the next file there takes no call to make it.
    char knownFolder_[kFpPathBufferSize];
    size_t knownFolderLength_ = kNoFolder;
    // Held while files are written into it: it stays the folder it was
    // found to be.
    UniqueHandle knownFolderHandle_;
    // The destination, held from the first record on, and its final path
    // (empty where the platform cannot tell one).
    UniqueHandle destination_;
    size_t prefixLength_ = 0;
    char destinationFinal_[kFinalPathSize] = "";
    // The file record under way: its new file (the target itself, or the
    // file beside an existing target that takes its place when complete).
    NewFile file_;
    bool replacing_ = false;
    char newFile_[kFpPathBufferSize + sizeof kFpNewFileName];
    uint64_t bytesWritten_ = 0;
};

// A record of the diverted name goes to its other name, in the same folder.
bool UnpackSink::Divert(PackRecord& record) {
    if (options_.divertName == nullptr || options_.divertTo == nullptr ||
        _stricmp(record.name, options_.divertName) != 0)
        return true;
    const size_t prefixLength = static_cast<size_t>(record.name - record.target);
    const size_t length = strlen(options_.divertTo);
    if (prefixLength + length >= kFpPathBufferSize)
        return false;
    memset(record.target + prefixLength, 0, kFpPathBufferSize - prefixLength);
    memcpy(record.target + prefixLength, options_.divertTo, length);
    return true;
}

// The destination (target's prefix), made when missing, held, and its final
// path kept. A link at the destination or above it is the caller's choice.
Reach UnpackSink::ReachDestination(const char* target) {
    if (destination_.IsValid())
        return Reach::kReached;
    char prefix[kFpPathBufferSize];
    memcpy(prefix, target, prefixLength_);
    prefix[prefixLength_] = '\0';
    if (!IsFolder(prefix))
        MakeDirectoryPath(prefix);
    destination_ = UniqueHandle(OpenFolder(prefix));
    if (!destination_.IsValid())
        return Reach::kMissing;
    const FinalPathFunction finalPath = FinalPath();
    const DWORD n = finalPath != nullptr ? finalPath(destination_.Get(), destinationFinal_,
                                                     sizeof destinationFinal_ - 1, 0)
                                         : 0;
    if (n == 0 || n >= sizeof destinationFinal_ - 1)
        destinationFinal_[0] = '\0';
    else if (destinationFinal_[n - 1] != '\\')
        memcpy(destinationFinal_ + n, "\\", 2);
    return Reach::kReached;
}

// Whether the open folder is the one at relative below the destination: no
// reparse point (a junction, a link on Windows), and its final path the
// destination's and relative (which a link on the way, showing itself as a
// plain folder, changes).
Reach UnpackSink::Judge(HANDLE folder, const char* relative) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(folder, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Reach::kMissing;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Reach::kLink;
    if (destinationFinal_[0] == '\0')
        return Reach::kReached;
    char final[kFinalPathSize];
    const DWORD n = FinalPath()(folder, final, sizeof final, 0);
    if (n == 0)
        return Reach::kReached;
    const size_t base = strlen(destinationFinal_);
    return n < sizeof final && n == base + strlen(relative) &&
                   _strnicmp(final, destinationFinal_, base) == 0 &&
                   _stricmp(final + base, relative) == 0
               ? Reach::kReached
               : Reach::kLink;
}

// Opens and holds a folder below the destination (folder, its first length
// bytes, no backslash at its end), made when missing: a missing one in a
// folder that is reached, and only then, so that nothing is made through a
// link.
Reach UnpackSink::ReachFolder(char* folder, size_t length, UniqueHandle& held) {
    UniqueHandle opened(OpenFolder(folder));
    if (!opened.IsValid()) {
        char* const slash = MbcsFindLast(folder, length, '\\');
        const size_t parentLength = static_cast<size_t>(slash - folder);
        UniqueHandle parent;
        Reach reached;
        if (parentLength + 1 == prefixLength_) {
            reached = Reach::kReached;
        } else {
            *slash = '\0';
            reached = ReachFolder(folder, parentLength, parent);
            *slash = '\\';
        }
        if (reached != Reach::kReached)
            return reached;
        DiskMakeFolder(folder);
        opened = UniqueHandle(OpenFolder(folder));
        if (!opened.IsValid())
            return Reach::kMissing;
    }
    const Reach reached = Judge(opened.Get(), folder + prefixLength_);
    if (reached == Reach::kReached)
        held = std::move(opened);
    return reached;
}

// Makes the folder of a target (its first folderLength bytes, up to and
// including the last backslash) exist and holds it, each folder on the way
// checked: the previous file's folder takes no call at all.
Reach UnpackSink::MakeTargetFolder(const char* target, size_t folderLength) {
    if (folderLength == knownFolderLength_ && memcmp(target, knownFolder_, folderLength) == 0)
        return Reach::kReached;
    knownFolderLength_ = kNoFolder;
    knownFolderHandle_ = UniqueHandle();
    Reach reached = ReachDestination(target);
    if (reached == Reach::kReached && folderLength > prefixLength_) {
        char folder[kFpPathBufferSize];
        memcpy(folder, target, folderLength - 1);
        folder[folderLength - 1] = '\0';
        reached = ReachFolder(folder, folderLength - 1, knownFolderHandle_);
    }
    if (reached == Reach::kReached) {
        memcpy(knownFolder_, target, folderLength);
        knownFolder_[folderLength] = '\0';
        knownFolderLength_ = folderLength;
    }
    return reached;
}

// A FLDR record: the folder made when missing and given the record's times
// and attributes. None of this fails the record.
int UnpackSink::MakeFolder(const PackRecord& record) {
    const char* target = record.target;
    char folder[kFpPathBufferSize];
    const size_t length = strlen(target);
    memcpy(folder, target, length + 1);
    UniqueHandle held;
    Reach reached = ReachDestination(target);
    if (reached == Reach::kReached)
        reached = ReachFolder(folder, length, held);
    if (reached == Reach::kLink) {
        error_ = kFolderIsLink;
        return kFpCreateFailed;
    }
    // A file in the folder's place is not the record's to stamp.
    const DWORD current = GetFileAttributesLong(target);
    if (reached != Reach::kReached || current == INVALID_FILE_ATTRIBUTES)
        return kFpOk;
    // A read-only folder would refuse its new times.
    if (current & FILE_ATTRIBUTE_READONLY)
        DiskSetAttributes(target, current & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    {
        UniqueHandle folder(DiskOpen(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
        if (folder.IsValid())
            DiskSetTimes(folder.Get(), target, &record.head.creationTime,
                         &record.head.lastWriteTime);
    }
    DiskSetAttributes(target, record.head.attributes);
    return kFpOk;
}

// A FILE record once its head is read: its folder and its new file. A new
// target is written in place at once. An existing one is replaced only with
// the caller's leave, by a new file beside it that takes its place when
// complete; until then the target is not touched.
int UnpackSink::StartFile(PackRecord& record) {
    if (!Divert(record))
        return kFpBadFormat;
    const char* target = record.target;
    Progress(0, 0, 0, record.head.originalSize);

    // The prefix ends in a backslash, so the target has one.
    const size_t targetLength = strlen(target);
    const size_t folderLength =
        static_cast<size_t>(MbcsFindLast(target, targetLength, '\\') - target) + 1;
    if (MakeTargetFolder(target, folderLength) == Reach::kLink) {
        error_ = kFolderIsLink;
        return kFpCreateFailed;
    }

    replacing_ = false;
    bytesWritten_ = 0;
    if (!file_.Create(target, ExistingTarget::kKeep)) {
        const DWORD createError = GetLastError();
        const DWORD existing = GetFileAttributesLong(target);
        if (existing == INVALID_FILE_ATTRIBUTES) {
            error_ = createError;
            return kFpCreateFailed;
        }
        if (options_.overwrite == nullptr ||
            options_.overwrite(options_.context, target) != kFpAnswerYes)
            return kFpOverwriteRefused;
        if (existing & FILE_ATTRIBUTE_DIRECTORY) {
            error_ = ERROR_DIRECTORY;
            return kFpCreateFailed;
        }
        memcpy(newFile_, target, folderLength);
        memcpy(newFile_ + folderLength, kFpNewFileName, sizeof kFpNewFileName);
        // A leftover of a killed unpack is removed first.
        if (!file_.Create(newFile_, ExistingTarget::kReplace))
            return Failed(kFpCreateFailed);
        replacing_ = true;
    }
    if (!chunkBuffer_.IsValid()) {
        chunkBuffer_ = HeapBlock::Zeroed(kFpMaxChunkData);
        if (!chunkBuffer_.IsValid())
            return kFpNoMemory;
    }
    return kFpOk;
}

// Copies a stored chunk's data from the archive to the file a piece at a
// time, each written while it is still in the cache. The whole chunk is read
// even after a write has failed, since a cut archive (-8) comes first.
int UnpackSink::CopyStoredChunk(ArchiveReader& reader, uint32_t length) {
    char* const buffer = chunkBuffer_.Bytes();
    bool written = true;
    for (uint32_t done = 0; done < length;) {
        const uint32_t piece =
            length - done < kFpInflatePieceSize ? length - done : kFpInflatePieceSize;
        if (!reader.Read(buffer, piece))
            return kFpTruncated;
        if (written && !file_.Write(buffer, piece)) {
            written = false;
            error_ = GetLastError();
        }
        done += piece;
    }
    return written ? kFpOk : kFpWriteFailed;
}

int UnpackSink::OnChunk(PackRecord& record, ArchiveReader& reader, uint32_t dataLength,
                        uint32_t originalLength) {
    if (dataLength == originalLength) {
        const int copied = CopyStoredChunk(reader, dataLength);
        if (copied != kFpOk)
            return copied;
    } else {
        // Compressed content goes out in pieces as it is inflated, whatever
        // its original length.
        if (!reader.Read(chunkBuffer_.Bytes(), dataLength))
            return kFpTruncated;
        SetLastError(ERROR_SUCCESS);
        if (!inflater_.Inflate(chunkBuffer_.Bytes(), dataLength, originalLength, WritePiece, this))
            return Failed(kFpWriteFailed);
    }
    bytesWritten_ += originalLength;
    Progress(0, 0, bytesWritten_, record.head.originalSize);
    return kFpOk;
}

// Times while the file is still open for writing, its data flushed when it
// is to count or to take another's place, then its attributes (perhaps
// read-only) once it is closed.
int UnpackSink::FinishFile(const PackRecord& record) {
    const RecordHead& head = record.head;
    const Durability durability = replacing_ ? Durability::kFlushed : options_.durability;
    if (!file_.Finish(&head.creationTime, &head.lastWriteTime, durability, head.attributes))
        return Failed(kFpCreateFailed);
    if (!replacing_) {
        file_.Keep();
        return kFpOk;
    }
    if (!file_.PlaceAs(record.target, ExistingTarget::kReplace))
        return Failed(kFpCreateFailed);
    // A file system that tunnels gives a file the creation time of the one
    // whose name it took: the record's once more.
    WIN32_FILE_ATTRIBUTE_DATA placed;
    if (GetFileAttributesExA(record.target, GetFileExInfoStandard, &placed) &&
        SameTime(placed.ftCreationTime, head.creationTime))
        return kFpOk;
    UniqueHandle file(DiskOpen(record.target, FILE_WRITE_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!file.IsValid() ||
        !DiskSetTimes(file.Get(), record.target, &head.creationTime, &head.lastWriteTime))
        return Failed(kFpCreateFailed);
    return kFpOk;
}

int UnpackSink::OnRecordEnd(PackRecord& record) {
    if (!record.Folder()) {
        const int result = FinishFile(record);
        if (result != kFpOk)
            return result;
        Progress(0, 0, record.head.originalSize, record.head.originalSize);
    }
    target_ = nullptr;
    if (recordProgress_)
        Progress(record.number, record.count, 0, 0);
    return kFpOk;
}

// Leaves the error of a failed record for the caller, and its target only
// when the failure came within a record.
int NoteFailure(UnpackOptions& options, const UnpackSink& sink, int result) {
    if (result < 0)
        options.failedError = sink.Error();
    if ((result >= 0 || !sink.InRecord()) && options.failedTarget != nullptr &&
        options.failedTargetCapacity > 0)
        options.failedTarget[0] = '\0';
    return result;
}

int Walk(const char* destinationFolder, HANDLE archive, UnpackOptions& options) {
    if (options.failedTarget != nullptr && options.failedTargetCapacity > 0)
        options.failedTarget[0] = '\0';
    options.failedError = 0;
    if (!UniqueHandle::IsValid(archive))
        return kFpCreateFailed;
    // Without the read-ahead block the walk still works, a field at a time.
    HeapBlock readAhead(malloc(kFpReadAheadSize));
    ArchiveReader reader(archive, readAhead.Bytes(), kFpReadAheadSize);
    UnpackSink sink(options);
    return NoteFailure(options, sink,
                       WalkFolderPack(reader, destinationFolder, RefusedNames::kStop, sink));
}

// The plain calls' callbacks, reached through the options' context.
struct PlainCallbacks {
    OverwriteCallback overwrite;
    ProgressCallback progress;
};

int PlainOverwrite(void* context, const char* target) {
    const OverwriteCallback callback = static_cast<PlainCallbacks*>(context)->overwrite;
    return callback != nullptr ? callback(target) : 0;
}

void PlainProgress(void* context, int32_t item, int32_t count, uint64_t done, uint64_t total) {
    const ProgressCallback callback = static_cast<PlainCallbacks*>(context)->progress;
    if (callback != nullptr)
        callback(item, count, done, total);
}

UnpackOptions PlainOptions(PlainCallbacks& callbacks) {
    UnpackOptions options;
    options.overwrite = PlainOverwrite;
    options.progress = PlainProgress;
    options.context = &callbacks;
    return options;
}

int OneRecord(HANDLE archive, RecordKind kind, const char* destinationFolder,
              OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    // Without read-ahead: the handle stays just after the record.
    ArchiveReader reader(archive, nullptr, 0);
    PlainCallbacks callbacks = {overwriteCallback, progressCallback};
    UnpackOptions options = PlainOptions(callbacks);
    UnpackSink sink(options);
    sink.WithoutRecordProgress();
    return WalkOneRecord(reader, kind, destinationFolder, sink);
}

} // namespace

int ExtractFolderRecord(HANDLE archive, const char* destinationFolder) {
    return OneRecord(archive, RecordKind::kFolder, destinationFolder, nullptr, nullptr);
}

int ExtractFileRecord(HANDLE archive, const char* destinationFolder,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    return OneRecord(archive, RecordKind::kFile, destinationFolder, overwriteCallback,
                     progressCallback);
}

int ExtractFolderPackHandle(const char* destinationFolder, HANDLE archive,
                            OverwriteCallback overwriteCallback,
                            ProgressCallback progressCallback) {
    PlainCallbacks callbacks = {overwriteCallback, progressCallback};
    UnpackOptions options = PlainOptions(callbacks);
    return Walk(destinationFolder, archive, options);
}

int ExtractFolderPack(const char* destinationFolder, const char* archivePath,
                      OverwriteCallback overwriteCallback, ProgressCallback progressCallback) {
    PlainCallbacks callbacks = {overwriteCallback, progressCallback};
    UnpackOptions options = PlainOptions(callbacks);
    return ExtractFolderPackWith(destinationFolder, archivePath, options);
}

int ExtractFolderPackWith(const char* destinationFolder, const char* archivePath,
                          UnpackOptions& options) {
    if (archivePath == nullptr)
        return kFpOpenFailed;
    // OPEN_ALWAYS: a missing archive becomes an empty file and ends at the
    // signature.
    UniqueHandle archive(
        DiskOpen(archivePath, GENERIC_READ, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL));
    if (!archive.IsValid())
        return kFpOpenFailed;
    return Walk(destinationFolder, archive.Get(), options);
}

int ExtractFolderPackFrom(const char* destinationFolder, HANDLE archive, UnpackOptions& options) {
    return Walk(destinationFolder, archive, options);
}
