// Paths of fpack's arguments: resolved against the current folder, at any
// length, and shown to the user as the user spelled them.
#pragma once

#include <windows.h>
#include <string>

// The absolute form of a path argument, resolved the way the platform does
// ("." and "..", slashes, drive-relative forms, an extended-length prefix),
// with no trailing backslash unless it is a drive's root. Works beyond 260
// bytes. False with the platform's error code when it cannot be resolved or
// does not come back into the ANSI code page.
bool AbsolutePath(const char* argument, std::string& absolute, DWORD& error);

// Whether the path ends in a backslash or a slash (not in a double-byte
// character whose second byte is 0x5C).
bool EndsWithSeparator(const std::string& path);
// folder + "\" + name, without doubling a separator that ends the folder.
std::string JoinPath(const std::string& folder, const std::string& name);

// The extended-length wide form (\\?\C:\... or \\?\UNC\...) of an absolute
// path, for the wide calls. False when it cannot be converted.
bool WideLongForm(const std::string& absolute, std::wstring& wide);

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
