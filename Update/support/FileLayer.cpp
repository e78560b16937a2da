#include "FileLayer.h"

#include "FileIdentity.h"
#include "LongPath.h"

#include <string.h>

namespace {

DiskCallHook g_hook = nullptr;
void* g_hookContext = nullptr;
AttributesHook g_attributesHook = nullptr;

// Asks the test seam whether the call may go ahead.
bool Allowed(DiskCall call, const char* path, const char* from = nullptr, DWORD flags = 0) {
    return g_hook == nullptr || g_hook(g_hookContext, call, path, from, flags);
}

bool MayCreate(DWORD disposition) {
    return disposition == CREATE_NEW || disposition == CREATE_ALWAYS ||
           disposition == OPEN_ALWAYS || disposition == TRUNCATE_EXISTING;
}

// Runs a clean-up step without losing the error of the failure before it.
template <typename Step> void KeepingError(Step step) {
    const DWORD error = GetLastError();
    step();
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
}

// Whether the name is the file's own and no link to another (a link can show
// itself as a plain file). A name that cannot be opened to tell is taken as
// its own: removing it then fails or succeeds on its own account.
bool IsOwnName(const char* path) {
    UniqueHandle file(CreateFileLong(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return !file.IsValid() || IsNamedFile(file.Get(), path);
}

// Whether the file has names besides this one (hard links). One that cannot
// be opened to tell is taken to have none.
bool HasOtherNames(const char* path) {
    UniqueHandle file(CreateFileLong(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    return file.IsValid() && GetFileInformationByHandle(file.Get(), &info) &&
           info.nNumberOfLinks > 1;
}

// The access that writes a file's data, which a read-only file refuses.
constexpr DWORD kDataWriteAccess = GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA;

constexpr DWORD kCopyPiece = 64 * 1024;
// The bits SetFileAttributes takes; the others describe the file's storage.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_NORMAL;

} // namespace

void SetDiskCallHook(DiskCallHook hook, void* context) {
    g_hook = hook;
    g_hookContext = context;
}

void SetAttributesHook(AttributesHook hook) {
    g_attributesHook = hook;
}

HANDLE DiskOpen(const char* path, DWORD access, DWORD share, DWORD disposition,
                DWORD flagsAndAttributes) {
    if (MayCreate(disposition)
            ? !Allowed(DiskCall::kCreate, path, nullptr, flagsAndAttributes)
            : (access & kDataWriteAccess) != 0 &&
                  !Allowed(DiskCall::kOpenToWrite, path, nullptr, flagsAndAttributes))
        return INVALID_HANDLE_VALUE;
    HANDLE file =
        CreateFileLong(path, access, share, nullptr, disposition, flagsAndAttributes, nullptr);
    if (file == nullptr) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool DiskWrite(HANDLE file, const char* path, const void* data, size_t size) {
    if (!Allowed(DiskCall::kWrite, path))
        return false;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, p, piece, &written, nullptr))
            return false;
        if (written == 0) {
            SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        p += written;
        size -= written;
    }
    return true;
}

bool DiskFlush(HANDLE file, const char* path) {
    return Allowed(DiskCall::kFlush, path) && FlushFileBuffers(file) != FALSE;
}

bool DiskSetTimes(HANDLE file, const char* path, const FILETIME* creation,
                  const FILETIME* lastWrite) {
    return Allowed(DiskCall::kSetTimes, path) &&
           SetFileTime(file, creation, nullptr, lastWrite) != FALSE;
}

bool DiskSetAttributes(const char* path, DWORD attributes) {
    return Allowed(DiskCall::kSetAttributes, path) &&
           SetFileAttributesLong(path, attributes) != FALSE;
}

bool DiskMove(const char* from, const char* to, DWORD flags) {
    return Allowed(DiskCall::kMove, to, from, flags) && MoveFileExLong(from, to, flags) != FALSE;
}

bool DiskDelete(const char* path) {
    return Allowed(DiskCall::kDelete, path) && DeleteFileLong(path) != FALSE;
}

bool DiskMakeFolder(const char* path) {
    return Allowed(DiskCall::kMakeFolder, path) && CreateDirectoryLong(path, nullptr) != FALSE;
}

bool DiskRemoveFolder(const char* path) {
    return Allowed(DiskCall::kRemoveFolder, path) && RemoveDirectoryLong(path) != FALSE;
}

bool DiskWriteProfile(const char* file, const char* section, const char* key, const char* value) {
    return Allowed(DiskCall::kWriteProfile, file) &&
           WritePrivateProfileStringA(section, key, value, file) != FALSE;
}

bool MakeWorkPath(const char* path, char* out, size_t capacity) {
    const size_t length = strlen(path);
    if (length + sizeof kWorkSuffix > capacity) {
        if (capacity > 0)
            out[0] = '\0';
        return false;
    }
    memcpy(out, path, length);
    memcpy(out + length, kWorkSuffix, sizeof kWorkSuffix);
    return true;
}

bool RemoveFile(const char* path) {
    DWORD attributes = GetFileAttributesLong(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (g_attributesHook != nullptr)
        attributes = g_attributesHook(path, attributes);
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) ||
        !IsOwnName(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        // The bit is the file's, not the name's: cleared to remove this name,
        // it would be gone under the others too. Such a name stays.
        if (HasOtherNames(path)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (!DiskSetAttributes(path, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)))
            return false;
    }
    return DiskDelete(path);
}

bool PutInPlace(const char* workPath, const char* target, ExistingTarget existing) {
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    DWORD current = INVALID_FILE_ATTRIBUTES;
    if (existing == ExistingTarget::kReplace) {
        flags |= MOVEFILE_REPLACE_EXISTING;
        current = GetFileAttributesLong(target);
    }
    // The platform replaces no read-only file; the bit goes only now, when
    // the new file is complete, and comes back if the move fails.
    const bool readOnly = current != INVALID_FILE_ATTRIBUTES &&
                          !(current & FILE_ATTRIBUTE_DIRECTORY) &&
                          (current & FILE_ATTRIBUTE_READONLY);
    if (readOnly &&
        !DiskSetAttributes(target, current & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        KeepingError([&] { RemoveFile(workPath); });
        return false;
    }
    if (DiskMove(workPath, target, flags))
        return true;
    KeepingError([&] {
        if (readOnly)
            DiskSetAttributes(target, current);
        RemoveFile(workPath);
    });
    return false;
}

bool NewFile::Create(const char* path, ExistingTarget existing) {
    Discard();
    // A leftover is removed rather than written over: a new file never
    // follows a link that stands in its place.
    if (existing == ExistingTarget::kReplace && !RemoveFile(path))
        return false;
    handle_.Attach(DiskOpen(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    owned_ = handle_.IsValid();
    if (owned_)
        path_ = path;
    return owned_;
}

bool NewFile::Write(const void* data, size_t size) {
    return DiskWrite(handle_.Get(), path_.c_str(), data, size);
}

bool NewFile::Finish(const FILETIME* creation, const FILETIME* lastWrite, Durability durability,
                     DWORD attributes) {
    const char* path = path_.c_str();
    if ((creation != nullptr || lastWrite != nullptr) &&
        !DiskSetTimes(handle_.Get(), path, creation, lastWrite))
        return false;
    if (durability == Durability::kFlushed && !DiskFlush(handle_.Get(), path))
        return false;
    // Closing can report data that did not reach the disk.
    if (!handle_.Close())
        return false;
    attributes &= kSettableAttributes;
    return attributes == kNewFileAttributes || DiskSetAttributes(path, attributes);
}

bool NewFile::PlaceAs(const char* target, ExistingTarget existing) {
    handle_.Close();
    // PutInPlace removes the work file itself when it fails.
    owned_ = false;
    return PutInPlace(path_.c_str(), target, existing);
}

void NewFile::Discard() {
    KeepingError([&] {
        handle_.Close();
        if (owned_)
            RemoveFile(path_.c_str());
        owned_ = false;
    });
}

bool WriteWholeFile(const char* path, const void* data, size_t size, DWORD attributes) {
    char work[MAX_PATH];
    if (!MakeWorkPath(path, work, sizeof work)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    NewFile file;
    return file.Create(work, ExistingTarget::kReplace) && file.Write(data, size) &&
           file.Finish(nullptr, nullptr, Durability::kFlushed, attributes) &&
           file.PlaceAs(path, ExistingTarget::kReplace);
}

namespace {

// Copies source into file, which Create made; the source's last-write time
// goes with it. The attributes are those of the new file. Nobody may write
// the source meanwhile; renaming or removing it leaves its data as it is.
bool CopyContent(const char* source, NewFile& file, FILETIME& lastWrite) {
    UniqueHandle from(CreateFileLong(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from.IsValid())
        return false;
    if (!GetFileTime(from.Get(), nullptr, nullptr, &lastWrite))
        return false;
    HeapBlock piece(malloc(kCopyPiece));
    if (!piece.IsValid()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(from.Get(), piece.Bytes(), kCopyPiece, &got, nullptr))
            return false;
        if (got == 0)
            return true;
        if (!file.Write(piece.Bytes(), got))
            return false;
    }
}

} // namespace

bool CopyIntoNewFile(const char* source, NewFile& file, const char* path) {
    FILETIME lastWrite;
    return file.Create(path, ExistingTarget::kReplace) && CopyContent(source, file, lastWrite) &&
           file.Finish(nullptr, &lastWrite, Durability::kAsWritten, kNewFileAttributes);
}

bool CopyWholeFile(const char* source, const char* target, ExistingTarget existing) {
    char work[MAX_PATH];
    if (!MakeWorkPath(target, work, sizeof work)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const DWORD attributes = GetFileAttributesLong(source);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    NewFile file;
    FILETIME lastWrite;
    return file.Create(work, ExistingTarget::kReplace) && CopyContent(source, file, lastWrite) &&
           file.Finish(nullptr, &lastWrite, Durability::kFlushed, attributes) &&
           file.PlaceAs(target, existing);
}

bool FlushFile(const char* path) {
    UniqueHandle file(DiskOpen(path, GENERIC_WRITE, 0, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    return file.IsValid() && DiskFlush(file.Get(), path) && file.Close();
}
