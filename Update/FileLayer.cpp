#include "FileReplace.h"

#include "Framework.h"
#include "Owners.h"

#include <windows.h>
#include <string.h>

namespace {

// Keeps the error of a failed step across the clean-up after it.
bool FailKeepingError(const char* workPath) {
    const DWORD error = GetLastError();
    RemoveFile(workPath);
    SetLastError(error != ERROR_SUCCESS ? error : ERROR_WRITE_FAULT);
    return false;
}

// Data reaches the disk before the name does, so that a power cut cannot
// leave a named file without its content.
bool FlushFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY))
        return false;
    UniqueHandle file(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    bool ok = file.IsValid() && FlushFileBuffers(file.Get()) && file.Close();
    if (readOnly) {
        const DWORD error = GetLastError();
        ok = SetFileAttributesA(path, attributes) && ok;
        if (!ok)
            SetLastError(error);
    }
    return ok;
}

} // namespace

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

bool PrepareWorkPath(const char* path, char* work, size_t capacity) {
    if (!MakeWorkPath(path, work, capacity)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    return RemoveFile(work);
}

bool RemoveFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    return DeleteFileA(path) != FALSE;
}

bool PutInPlace(const char* workPath, const char* target, ExistingTarget existing) {
    DWORD flags = MOVEFILE_WRITE_THROUGH;
    if (existing == ExistingTarget::kReplace)
        flags |= MOVEFILE_REPLACE_EXISTING;
    if (!MoveFileExA(workPath, target, flags))
        return FailKeepingError(workPath);
    return true;
}

bool WriteWholeFile(const char* path, const void* data, size_t size) {
    char work[MAX_PATH];
    if (!PrepareWorkPath(path, work, sizeof work))
        return false;
    File file;
    if (!file.Open(work, File::modeCreate | File::modeWrite))
        return false;
    const bool written = file.Write(data, static_cast<unsigned long>(size)) && file.Flush();
    const DWORD error = GetLastError();
    // Closed before anything else: an open file could not be removed.
    const bool closed = file.Close();
    if (!written || !closed) {
        if (!written)
            SetLastError(error);
        return FailKeepingError(work);
    }
    return PutInPlace(work, path, ExistingTarget::kReplace);
}

bool CopyWholeFile(const char* source, const char* target, ExistingTarget existing) {
    char work[MAX_PATH];
    if (!PrepareWorkPath(target, work, sizeof work))
        return false;
    if (!CopyFileA(source, work, FALSE) || !FlushFile(work))
        return FailKeepingError(work);
    return PutInPlace(work, target, existing);
}
