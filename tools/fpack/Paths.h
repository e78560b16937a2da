// Paths of fpack's files: compared and told apart, at any length. They are
// joined by JoinPath and made absolute by AbsolutePath (PathHelpers.h).
#pragma once

#include "PathHelpers.h"

#include <windows.h>
#include <string>

// Which file an open handle is: volume and file index.
struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const FileIdentity& o) const {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};
// The identity of the file at an absolute path; false when it cannot be opened.
bool IdentityOf(const std::string& absolute, FileIdentity& identity);

// Whether two names are the same to the file system, which ignores case.
bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b);
