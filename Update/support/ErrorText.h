// The platform's own text for an error code, for log records.
#pragma once

#include <windows.h>
#include <stddef.h>

// The system's message for code in the ANSI code page, on one line, without
// trailing blanks; empty when the system has none. Returns its length.
size_t SystemMessage(DWORD code, char* out, size_t capacity);

// Writes the system's message for code (in the ANSI code page, line breaks
// and trailing blanks removed) followed by the code in parentheses, cut on a
// character boundary to fit capacity. A code without a message gives the
// number alone.
void FormatErrorText(DWORD code, char* out, size_t capacity);

// The same in a buffer of its own, for one log statement.
struct ErrorText {
    explicit ErrorText(DWORD code) { FormatErrorText(code, text, sizeof text); }
    char text[512];
};
