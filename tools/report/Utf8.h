// The report's texts are UTF-8: log records (code page 932) and file names
// (UTF-16) are converted once, when a row is made.
#pragma once

#include <string>

// Code page 932 text as UTF-8; control characters but the line break and the
// tab become U+FFFD, since they have no place in a cell or a page.
std::string Utf8FromLog(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);
// For messages on a console: the ANSI code page, '?' for what it lacks.
std::string AnsiFromWide(const std::wstring& text);
