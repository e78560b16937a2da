// File operations on byte-string paths that also reach paths of 260 bytes
// and more: such paths go to the wide calls in their extended-length form
// (\\?\C:\... or \\?\UNC\server\share\...).
#pragma once

#include <windows.h>
#include <stddef.h>

// Size of the scratch buffers of the long form: bytes of the prefixed text,
// and UTF-16 units of its conversion.
constexpr size_t kLongFormBytes = 32768;
constexpr size_t kLongFormWideUnits = 32768;
// Paths of this many bytes or more do not fit the byte-string calls.
constexpr size_t kShortPathLimit = 260;

// Same arguments and results as the byte-string calls they extend. When the
// long form cannot be built (no memory, text too long, conversion failure)
// they fail without calling the platform: 0xFFFFFFFF, 0, a null handle.
DWORD GetFileAttributesLong(const char* path);
BOOL SetFileAttributesLong(const char* path, DWORD attributes);
HANDLE CreateFileLong(const char* path, DWORD desiredAccess, DWORD shareMode,
                      LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                      DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeleteFileLong(const char* path);
// The byte-string call when both paths are short, else the wide call with
// both in the long form.
BOOL MoveFileExLong(const char* existingPath, const char* newPath, DWORD flags);
// Chooses by platform, not by length: on NT always the long form.
BOOL CreateDirectoryLong(const char* path, LPSECURITY_ATTRIBUTES securityAttributes);

// The extended-length byte text of path: "\\?\UNC" + path without its first
// byte when it starts with two backslashes, else "\\?\" + path. Returns 1,
// or 0 (out then empty when capacity allows) when it and its NUL do not fit.
int BuildLongFormText(const char* path, char* out, size_t capacity);
// Whether the byte-string calls cannot take the path (260 bytes or more).
bool PathNeedsLongForm(const char* path);
// Whether CreateDirectoryLong takes the long form on this platform id.
bool CreateDirectoryTakesLongForm(DWORD platformId);
// CreateDirectoryLong with the platform id given instead of asked.
BOOL CreateDirectoryForPlatform(DWORD platformId, const char* path,
                                LPSECURITY_ATTRIBUTES securityAttributes);
