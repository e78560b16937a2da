#include "LongPath.h"

#include "Text.h"

#include <string.h>

namespace {

// The platform, asked once on the first directory creation; size 0 until then.
OSVERSIONINFOA g_platformRecord;

// Hands the long form of path to call; failure when it cannot be built.
template <typename Result, typename Call>
Result CallWithLongForm(const char* path, Result failure, Call call) {
    std::wstring wide;
    if (!LongFormWide(path, wide))
        return failure;
    return call(wide.c_str());
}

} // namespace

bool LongFormWide(const char* path, std::wstring& wide) {
    wide.clear();
    if (path == nullptr)
        return false;
    const bool unc = path[0] == '\\' && path[1] == '\\';
    std::string text = unc ? "\\\\?\\UNC" : "\\\\?\\";
    text += unc ? path + 1 : path;
    return text.size() < kLongFormBytes && ToWide(text, wide);
}

std::wstring LongForm(const std::wstring& path) {
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC" + path.substr(1);
    return L"\\\\?\\" + path;
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

bool PathExists(const char* path) {
    return GetFileAttributesLong(path) != INVALID_FILE_ATTRIBUTES;
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

BOOL RemoveDirectoryLong(const char* path) {
    if (path == nullptr)
        return FALSE;
    if (!PathNeedsLongForm(path))
        return RemoveDirectoryA(path);
    return CallWithLongForm(path, FALSE, [](const wchar_t* w) { return RemoveDirectoryW(w); });
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
