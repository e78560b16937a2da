#include "Paths.h"

#include "LongPath.h"
#include "Owners.h"

#include <vector>

namespace {

bool ToWide(const char* text, std::wstring& wide) {
    const int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (n <= 0)
        return false;
    wide.assign(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, &wide[0], n) != n)
        return false;
    wide.resize(static_cast<size_t>(n) - 1);
    return true;
}

// False (with the error set) when a character has no place in the code page.
bool ToAnsi(const std::wstring& wide, std::string& text) {
    BOOL lossy = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, nullptr, 0,
                                      nullptr, &lossy);
    if (n <= 0)
        return false;
    text.assign(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.c_str(), -1, &text[0], n, nullptr,
                            &lossy) != n)
        return false;
    if (lossy) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    text.resize(static_cast<size_t>(n) - 1);
    return true;
}

bool StartsWith(const std::wstring& text, const wchar_t* head) {
    return text.compare(0, wcslen(head), head) == 0;
}

} // namespace

bool AbsolutePath(const char* argument, std::string& absolute, DWORD& error) {
    std::wstring wide;
    if (argument[0] == '\0') {
        error = ERROR_INVALID_NAME;
        return false;
    }
    if (!ToWide(argument, wide)) {
        error = GetLastError();
        return false;
    }
    // The platform's calls add the prefix again where a path needs it.
    if (StartsWith(wide, L"\\\\?\\UNC\\"))
        wide = L"\\\\" + wide.substr(8);
    else if (StartsWith(wide, L"\\\\?\\"))
        wide = wide.substr(4);
    std::vector<wchar_t> full(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) {
            error = GetLastError();
            return false;
        }
        if (n < full.size())
            break;
        full.resize(n + 1);
    }
    std::wstring resolved(full.data());
    const bool driveRoot = resolved.size() == 3 && resolved[1] == L':';
    while (!driveRoot && resolved.size() > 3 && resolved.back() == L'\\')
        resolved.pop_back();
    if (!ToAnsi(resolved, absolute)) {
        error = GetLastError();
        return false;
    }
    return true;
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

bool WideLongForm(const std::string& absolute, std::wstring& wide) {
    std::vector<char> text(kLongFormBytes);
    return BuildLongFormText(absolute.c_str(), text.data(), text.size()) &&
           ToWide(text.data(), wide);
}

bool IdentityOf(const std::string& absolute, FileIdentity& identity) {
    UniqueHandle file(CreateFileLong(absolute.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file.IsValid() || !GetFileInformationByHandle(file.Get(), &info))
        return false;
    identity.volume = info.dwVolumeSerialNumber;
    identity.indexHigh = info.nFileIndexHigh;
    identity.indexLow = info.nFileIndexLow;
    return true;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size())
        return false;
    std::wstring ua = a, ub = b;
    if (!ua.empty()) {
        CharUpperBuffW(&ua[0], static_cast<DWORD>(ua.size()));
        CharUpperBuffW(&ub[0], static_cast<DWORD>(ub.size()));
    }
    return ua == ub;
}
