#include "Payload.h"

#include "FileLayer.h"
#include "OwnName.h"
#include "Owners.h"
#include "PathHelpers.h"

#include <stdio.h>
#include <string.h>

namespace {
// Only the update worker calls GetPayloadTempPath; it copies the result at once.
char g_payloadTempBuild[kPathBufferSize];
char g_payloadTempPath[kPathBufferSize];
} // namespace

int WritePayloadFile(WORD resourceId, const char* filePath, int overwrite) {
    if (filePath == nullptr || filePath[0] == '\0')
        return 0;
    if (GetFileAttributesA(filePath) != INVALID_FILE_ATTRIBUTES) {
        if (!overwrite)
            return 0;
        DWORD attributes = GetFileAttributesA(filePath);
        if (attributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(filePath, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
        if (!DeleteFileA(filePath))
            return 0;
    }

    UniqueHandle file(CreateFileA(filePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return 0;

    const void* bytes = nullptr;
    DWORD size = 0;
    if (!FindPayload(resourceId, &bytes, &size))
        return 0;

    DWORD written = 0;
    BOOL ok = WriteFile(file.Get(), bytes, size, &written, nullptr);
    bool closed = file.Close();
    return ok && closed && written == size ? 1 : 0;
}

bool FindPayload(WORD resourceId, const void** data, DWORD* size) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(resourceId), kPayloadResourceType);
    if (resource == nullptr)
        return false;
    *size = SizeofResource(module, resource);
    HGLOBAL loaded = LoadResource(module, resource);
    *data = loaded != nullptr ? LockResource(loaded) : nullptr;
    return *size != 0 && *data != nullptr;
}

const char* GetPayloadTempPath() {
    // A path that cannot be formed leaves both arrays empty, and writing the
    // payload to it then fails.
    if (!BuildTempFilePath(kPayloadTempName, g_payloadTempBuild, sizeof g_payloadTempBuild))
        g_payloadTempBuild[0] = '\0';
    memcpy(g_payloadTempPath, g_payloadTempBuild, sizeof g_payloadTempPath);
    return g_payloadTempPath;
}

namespace {

// Creates path new, as OpenPayloadFile describes.
bool CreatePayloadFile(const char* path, UniqueHandle& file) {
    file.Attach(DiskOpen(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, CREATE_NEW,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE));
    return file.IsValid();
}

} // namespace

bool OpenPayloadFile(const void* data, DWORD size, char* path, UniqueHandle& file) {
    const char* usual = GetPayloadTempPath();
    memcpy(path, usual, kPathBufferSize);
    if (path[0] == '\0') {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    // Update.tmp, unless something other than a file of its own stands
    // there; then a name of this run's own, which nobody can have taken
    // before it was drawn. Any other failure (a full disk, say) is no
    // matter of the name.
    char stem[kPathBufferSize];
    memcpy(stem, usual, kPathBufferSize);
    stem[strlen(usual) - strlen(".tmp")] = '\0';
    bool created = false;
    DWORD error = ERROR_SUCCESS;
    for (unsigned n = 0; !created && n < kOwnNameTries; ++n) {
        char name[kPathBufferSize];
        if (!OwnNameCandidate(stem, ".tmp", n, name, sizeof name)) {
            error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        memcpy(path, name, sizeof name);
        created = (n > 0 || RemoveFile(path)) && CreatePayloadFile(path, file);
        error = GetLastError();
        if (!created && !IsNameTaken(error))
            break;
    }
    if (!created) {
        SetLastError(error);
        return false;
    }
    LARGE_INTEGER start = {};
    return DiskWrite(file.Get(), path, data, size) &&
           SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN);
}
