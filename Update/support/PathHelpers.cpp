#include "PathHelpers.h"

#include "Mbcs.h"
#include "Owners.h"
#include "Text.h"

#include <string.h>

const char* FindNoCase(const char* text, const char* pattern) {
    size_t t = strlen(text);
    size_t p = strlen(pattern);
    if (p > t)
        return nullptr;
    for (size_t i = 0; i + p <= t; ++i) {
        if (_memicmp(text + i, pattern, p) == 0)
            return text + i;
    }
    return nullptr;
}

char* FindNoCase(char* text, const char* pattern) {
    return const_cast<char*>(FindNoCase(static_cast<const char*>(text), pattern));
}

const char* GetUncServerName(const char* path) {
    // Only the update worker calls this; its result is copied at once.
    static char server[kPathBufferSize];
    // Cut on a character boundary: never a lone lead byte before the NUL.
    const size_t n = CutToWholeCharacters(path, sizeof server - 1);
    memcpy(server, path, n);
    server[n] = '\0';
    char* start = server;
    while (*start == '\\')
        ++start;
    char* separator = MbcsFind(start, n - static_cast<size_t>(start - server), '\\');
    if (separator != nullptr)
        *separator = '\0';
    return start;
}

bool AppendBackslash(char* path, size_t capacity) {
    const size_t len = strnlen(path, capacity);
    if (len >= capacity)
        return false;
    const char* last = MbcsFindLast(path, len, '\\');
    if (last != nullptr && last == path + len - 1)
        return true;
    if (len + 2 > capacity)
        return false;
    path[len] = '\\';
    path[len + 1] = '\0';
    return true;
}

int ReadRegistryString(HKEY root, const char* subKey, const char* valueName, std::string& value) {
    // The product is a 32-bit program: its keys live in the 32-bit view.
    UniqueKey key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, key.Out()) !=
            ERROR_SUCCESS ||
        key.Get() == nullptr)
        return 0;
    char data[1024];
    DWORD type = 0;
    DWORD size = sizeof data;
    if (RegQueryValueExA(key.Get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(data),
                         &size) != ERROR_SUCCESS)
        return 0;
    key.Close();
    if (type != REG_SZ)
        return 0;
    // A value with no NUL in its bytes is cut at the buffer's end.
    if (size > sizeof data)
        size = sizeof data;
    value.assign(data, strnlen(data, size));
    return 1;
}

bool JoinPath(const char* folder, const char* name, char* out, size_t capacity) {
    if (capacity == 0)
        return false;
    const size_t folderLen = strlen(folder);
    const size_t nameLen = strlen(name);
    if (folderLen < capacity) {
        memcpy(out, folder, folderLen + 1);
        if (AppendBackslash(out, capacity) && strlen(out) + nameLen < capacity) {
            strcat(out, name);
            return true;
        }
    }
    out[0] = '\0';
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
}

bool EndsWithSeparator(const std::string& path) {
    bool separator = false;
    for (size_t i = 0; i < path.size(); ++i) {
        // A trail byte may be 0x5C; it is no separator.
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            separator = false;
            ++i;
            continue;
        }
        separator = path[i] == '\\' || path[i] == '/';
    }
    return separator;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || EndsWithSeparator(folder))
        return folder + name;
    return folder + "\\" + name;
}

bool BuildTempFilePath(const char* name, char* out, size_t capacity) {
    char folder[kPathBufferSize];
    const DWORD n = GetTempPathA(sizeof folder, folder);
    if (n == 0 || n >= sizeof folder) {
        if (capacity > 0)
            out[0] = '\0';
        return false;
    }
    return JoinPath(folder, name, out, capacity);
}

bool AbsolutePath(const std::wstring& argument, std::wstring& absolute) {
    if (argument.empty()) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    // The platform's calls add the prefix again where a path needs it.
    std::wstring path = argument;
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        path = L"\\\\" + path.substr(8);
    else if (path.compare(0, 4, L"\\\\?\\") == 0)
        path = path.substr(4);
    absolute.assign(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(absolute.size()),
                                         &absolute[0], nullptr);
        if (n == 0)
            return false;
        if (n < absolute.size()) {
            absolute.resize(n);
            break;
        }
        absolute.resize(n + 1);
    }
    const bool driveRoot = absolute.size() == 3 && absolute[1] == L':';
    while (!driveRoot && absolute.size() > 3 && absolute.back() == L'\\')
        absolute.pop_back();
    return true;
}

bool AbsolutePath(const char* argument, std::string& absolute) {
    std::wstring wide, full;
    return ToWide(argument, strlen(argument), wide, CP_ACP, Conversion::kStrict) &&
           AbsolutePath(wide, full) && FromWide(full, absolute, CP_ACP, Conversion::kStrict);
}
