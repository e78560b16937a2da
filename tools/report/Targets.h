// The list of target machines given with --machines: one computer name per
// line, blank lines and "#" comments ignored. Notepad's encodings are all
// read: UTF-8 (with or without its byte-order mark), UTF-16 with its mark,
// and the ANSI code page for anything that is no UTF-8.
#pragma once

#include <windows.h>
#include <string>
#include <vector>

// False with the platform's error code when the file cannot be read.
bool ReadTargets(const std::wstring& path, std::vector<std::wstring>& names, DWORD& error);
