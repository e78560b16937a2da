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
// in bytes; returns 1 when the text ends in a backslash afterwards, 0 when
// there was no room (the text is then unchanged).
int AppendBackslash(char* path, size_t capacity);

// Reads a REG_SZ value from the 32-bit registry view. Returns 1 and replaces
// value with the text up to its first NUL; 0 on any failure, value unchanged.
int ReadRegistryString(HKEY root, const char* subKey, const char* valueName, std::string& value);

// Builds folder + "\" (when missing) + name into out. Returns 1 on success,
// 0 when it does not fit (out is then empty).
int JoinPath(const char* folder, const char* name, char* out, size_t capacity);

// The temporary folder followed by name, as GetTempPathA reports the folder.
// Returns 1 on success; 0 when there is no temporary folder or the path does
// not fit capacity, and out is then empty.
int BuildTempFilePath(const char* name, char* out, size_t capacity);
