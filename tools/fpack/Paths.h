// Paths of fpack's files: joined, compared and told apart, at any length.
// Arguments are made absolute by AbsolutePath (PathHelpers.h).
#pragma once

#include <windows.h>
#include <string>

// Whether the path ends in a backslash or a slash (not in a double-byte
// character whose second byte is 0x5C).
bool EndsWithSeparator(const std::string& path);
// folder + "\" + name, without doubling a separator that ends the folder.
std::string JoinPath(const std::string& folder, const std::string& name);

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
