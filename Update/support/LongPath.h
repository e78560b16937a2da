// File operations on byte-string paths that also reach paths of 260 bytes
// and more: such paths go to the wide calls in their extended-length form
// (\\?\C:\... or \\?\UNC\server\share\...).
#pragma once

#include <windows.h>
#include <stddef.h>
#include <string>

// Longest long form, in bytes of the prefixed text and its NUL.
constexpr size_t kLongFormBytes = 32768;
// Paths of this many bytes or more do not fit the byte-string calls.
constexpr size_t kShortPathLimit = 260;

// Same arguments and results as the byte-string calls they extend. When the
// long form cannot be built (no memory, text too long, conversion failure)
// they fail without calling the platform: 0xFFFFFFFF, 0, a null handle.
DWORD GetFileAttributesLong(const char* path);
// Whether anything (a file, a folder, a link) stands at path.
bool PathExists(const char* path);
BOOL SetFileAttributesLong(const char* path, DWORD attributes);
HANDLE CreateFileLong(const char* path, DWORD desiredAccess, DWORD shareMode,
                      LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                      DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeleteFileLong(const char* path);
BOOL RemoveDirectoryLong(const char* path);
// The byte-string call when both paths are short, else the wide call with
// both in the long form.
BOOL MoveFileExLong(const char* existingPath, const char* newPath, DWORD flags);
// Chooses by platform, not by length: on NT always the long form.
BOOL CreateDirectoryLong(const char* path, LPSECURITY_ATTRIBUTES securityAttributes);

// The extended-length form of path, for the wide calls: "\\?\UNC" + path
// without its first byte when it starts with two backslashes, else "\\?\"
// + path, in UTF-16. False when it does not fit kLongFormBytes or does not
// convert.
bool LongFormWide(const char* path, std::wstring& wide);
// The same for a path in UTF-16; one already in that form stays as it is.
std::wstring LongForm(const std::wstring& path);
// Whether the byte-string calls cannot take the path (260 bytes or more).
bool PathNeedsLongForm(const char* path);
// Whether CreateDirectoryLong takes the long form on this platform id.
bool CreateDirectoryTakesLongForm(DWORD platformId);
// CreateDirectoryLong with the platform id given instead of asked.
BOOL CreateDirectoryForPlatform(DWORD platformId, const char* path,
                                LPSECURITY_ATTRIBUTES securityAttributes);
