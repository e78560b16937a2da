// fpack's messages: names made safe to print, the meaning of the unpacker's
// result codes, the platform's reason for an error, and the lines on stderr.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <string>

// A record or file name as it is printed: control characters, DEL and bytes
// that do not decode in code page 932 become \xNN; the rest stays as it is,
// so that nothing in a name can move the cursor or recolour a terminal.
std::string PrintableName(const char* name, size_t length);
inline std::string PrintableName(const std::string& name) {
    return PrintableName(name.data(), name.size());
}

// The meaning of one of the unpacker's result codes.
const char* ResultMeaning(int code);
// What -9 means when it is the record's name that was refused.
extern const char kRefusedNameMeaning[];

// The platform's text for an error code, on one line, with its number:
// "Access is denied. (error 5)".
std::string SystemReason(DWORD error);

// "fpack: " and the text on one line of stderr.
void Complain(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
// "fpack: warning: " and the text on one line of stderr.
void Warn(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
