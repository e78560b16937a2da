// String, path and registry helpers shared by start-up and the update.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <string>

// Fixed size of the process-wide path buffers (259 bytes and the NUL).
constexpr size_t kPathBufferSize = 260;

// First occurrence of pattern in text, ASCII letters compared without regard
// to case, every byte offset a candidate; null when there is none. An empty
// pattern matches at the start.
const char* FindNoCase(const char* text, const char* pattern);
char* FindNoCase(char* text, const char* pattern);

// First path component after any leading backslashes, in a shared buffer
// that the next call overwrites. Paths over 259 bytes are cut to 259 bytes
// or one less, so that no double-byte character is split.
const char* GetUncServerName(const char* path);

// Appends "\" unless the text already ends in a backslash (a trail byte 0x5C
// of a double-byte character does not count). capacity is the buffer's size
// in bytes; true when the text ends in a backslash afterwards, false when
// there was no room (the text is then unchanged).
bool AppendBackslash(char* path, size_t capacity);

// Reads a REG_SZ value from the 32-bit registry view. Returns 1 and replaces
// value with the text up to its first NUL; 0 on any failure, value unchanged.
int ReadRegistryString(HKEY root, const char* subKey, const char* valueName, std::string& value);

// Builds folder + "\" (when missing) + name into out; false (out empty,
// ERROR_FILENAME_EXCED_RANGE) when it does not fit.
bool JoinPath(const char* folder, const char* name, char* out, size_t capacity);

// Whether the path ends in a backslash or a slash (not in a double-byte
// character whose second byte is 0x5C).
bool EndsWithSeparator(const std::string& path);
// folder + "\" + name, without doubling a separator that ends the folder, at
// any length.
std::string JoinPath(const std::string& folder, const std::string& name);

// The temporary folder followed by name, as GetTempPathA reports the folder;
// false (out empty) when there is no temporary folder or the path does not
// fit capacity.
bool BuildTempFilePath(const char* name, char* out, size_t capacity);

// The absolute form of a path as a user gave it, resolved the way the
// platform does ("." and "..", slashes, drive-relative forms, an
// extended-length prefix), with no trailing backslash unless it is a drive's
// root, at any length. False with the system's last error when it cannot be
// resolved or does not come back into the ANSI code page.
bool AbsolutePath(const char* argument, std::string& absolute);
// The same for a name in UTF-16, which any name is.
bool AbsolutePath(const std::wstring& argument, std::wstring& absolute);
