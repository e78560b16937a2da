#include "LongPath.h"

#include "Owners.h"

#include <string.h>

namespace {

// The platform, asked once on the first directory creation; size 0 until then.
OSVERSIONINFOA g_platformRecord;

// Builds the wide long form of path in heap scratch buffers and hands it to
// call; failure when it cannot be built.
template <typename Result, typename Call>
Result CallWithLongForm(const char* path, Result failure, Call call) {
    HeapBlock wide(malloc(kLongFormWideUnits * sizeof(wchar_t)));
    if (!wide.IsValid())
        return failure;
    HeapBlock bytes(malloc(kLongFormBytes));
    if (!bytes.IsValid())
        return failure;
    if (!BuildLongFormText(path, bytes.Bytes(), kLongFormBytes))
        return failure;
    wchar_t* text = static_cast<wchar_t*>(wide.Get());
    if (MultiByteToWideChar(CP_ACP, 0, bytes.Bytes(), -1, text,
                            static_cast<int>(kLongFormWideUnits)) == 0)
        return failure;
    return call(text);
}

} // namespace

int BuildLongFormText(const char* path, char* out, size_t capacity) {
    if (out == nullptr || capacity == 0)
        return 0;
    out[0] = '\0';
    if (path == nullptr)
        return 0;
    const bool unc = path[0] == '\\' && path[1] == '\\';
    const char* head = unc ? "\\\\?\\UNC" : "\\\\?\\";
    const char* tail = unc ? path + 1 : path;
    const size_t headLength = strlen(head);
    const size_t tailLength = strlen(tail);
    if (headLength + tailLength >= capacity)
        return 0;
    memcpy(out, head, headLength);
    memcpy(out + headLength, tail, tailLength + 1);
    return 1;
}

bool PathNeedsLongForm(const char* path) {
    return strnlen(path, kShortPathLimit) >= kShortPathLimit;
}

bool CreateDirectoryTakesLongForm(DWORD platformId) {
    return platformId == VER_PLATFORM_WIN32_NT;
}

DWORD GetFileAttributesLong(const char* path) {
    if (path == nullptr)
        return INVALID_FILE_ATTRIBUTES;
    if (!PathNeedsLongForm(path))
        return GetFileAttributesA(path);
    return CallWithLongForm(path, static_cast<DWORD>(INVALID_FILE_ATTRIBUTES),
                            [](const wchar_t* w) { return GetFileAttributesW(w); });
}

BOOL SetFileAttributesLong(const char* path, DWORD attributes) {
    if (path == nullptr)
        return FALSE;
    if (!PathNeedsLongForm(path))
        return SetFileAttributesA(path, attributes);
    return CallWithLongForm(path, FALSE,
                            [&](const wchar_t* w) { return SetFileAttributesW(w, attributes); });
}

HANDLE CreateFileLong(const char* path, DWORD desiredAccess, DWORD shareMode,
                      LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                      DWORD flagsAndAttributes, HANDLE templateFile) {
    if (path == nullptr)
        return nullptr;
    if (!PathNeedsLongForm(path))
        return CreateFileA(path, desiredAccess, shareMode, securityAttributes, creationDisposition,
                           flagsAndAttributes, templateFile);
    return CallWithLongForm(path, static_cast<HANDLE>(nullptr), [&](const wchar_t* w) {
        return CreateFileW(w, desiredAccess, shareMode, securityAttributes, creationDisposition,
                           flagsAndAttributes, templateFile);
    });
}

BOOL DeleteFileLong(const char* path) {
    if (path == nullptr)
        return FALSE;
    if (!PathNeedsLongForm(path))
        return DeleteFileA(path);
    return CallWithLongForm(path, FALSE, [](const wchar_t* w) { return DeleteFileW(w); });
}

BOOL MoveFileExLong(const char* existingPath, const char* newPath, DWORD flags) {
    if (existingPath == nullptr || newPath == nullptr)
        return FALSE;
    if (!PathNeedsLongForm(existingPath) && !PathNeedsLongForm(newPath))
        return MoveFileExA(existingPath, newPath, flags);
    return CallWithLongForm(existingPath, FALSE, [&](const wchar_t* from) {
        return CallWithLongForm(newPath, FALSE,
                                [&](const wchar_t* to) { return MoveFileExW(from, to, flags); });
    });
}

BOOL CreateDirectoryForPlatform(DWORD platformId, const char* path,
                                LPSECURITY_ATTRIBUTES securityAttributes) {
    if (path == nullptr)
        return FALSE;
    if (!CreateDirectoryTakesLongForm(platformId))
        return CreateDirectoryA(path, securityAttributes);
    return CallWithLongForm(
        path, FALSE, [&](const wchar_t* w) { return CreateDirectoryW(w, securityAttributes); });
}

BOOL CreateDirectoryLong(const char* path, LPSECURITY_ATTRIBUTES securityAttributes) {
    if (g_platformRecord.dwOSVersionInfoSize == 0) {
        g_platformRecord.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
        // A failure leaves the id 0: the byte-string call for the whole run.
        GetVersionExA(&g_platformRecord);
    }
    return CreateDirectoryForPlatform(g_platformRecord.dwPlatformId, path, securityAttributes);
}
