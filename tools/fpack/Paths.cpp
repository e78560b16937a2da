#include "Paths.h"

#include "LongPath.h"
#include "Owners.h"

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
