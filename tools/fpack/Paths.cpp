#include "Paths.h"

#include "LongPath.h"
#include "Owners.h"

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
