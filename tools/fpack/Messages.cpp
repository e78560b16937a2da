#include "Messages.h"

#include "ErrorText.h"

#include "FolderPack.h"
#include "Text.h"

#include <stdarg.h>
#include <stdio.h>

namespace {

// Record names are code page 932 whatever the system's own code page is.
constexpr UINT kArchiveCodePage = 932;

bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

bool IsTrailByte(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

// Whether the bytes are one character that the code page defines. Without
// the code page on the system, the byte ranges alone decide.
bool Decodes(const char* bytes, int length) {
    std::wstring wide;
    if (ToWide(bytes, static_cast<size_t>(length), wide, kArchiveCodePage, Conversion::kStrict))
        return true;
    return GetLastError() == ERROR_INVALID_PARAMETER;
}

void AppendEscaped(std::string& out, unsigned char c) {
    char text[8];
    snprintf(text, sizeof text, "\\x%02X", c);
    out += text;
}

void PrintLine(const char* lead, const char* format, va_list arguments) {
    fflush(stdout);
    fputs(lead, stderr);
    vfprintf(stderr, format, arguments);
    fputc('\n', stderr);
}

} // namespace

const char kRefusedNameMeaning[] =
    "the name is refused (it leaves the folder, names a device, or holds a character or an "
    "ending that Windows does not keep)";

std::string PrintableName(const char* name, size_t length) {
    std::string out;
    out.reserve(length);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    for (size_t i = 0; i < length;) {
        const unsigned char c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (IsLeadByte(c) && i + 1 < length && IsTrailByte(p[i + 1]) &&
                   Decodes(name + i, 2)) {
            out.append(name + i, 2);
            i += 2;
        } else if (c >= 0xA1 && c <= 0xDF) { // half-width katakana
            out += static_cast<char>(c);
            ++i;
        } else {
            AppendEscaped(out, c);
            ++i;
        }
    }
    return out;
}

const char* ResultMeaning(int code) {
    switch (code) {
    case kFpOk:
        return "success";
    case kFpCreateFailed:
        return "a target file could not be created";
    case kFpWriteFailed:
        return "content could not be written, or a chunk could not be inflated";
    case kFpOpenFailed:
        return "the archive could not be opened";
    case kFpNoMemory:
        return "the chunk buffer could not be allocated";
    case kFpTruncated:
        return "the archive is truncated or could not be read";
    case kFpBadFormat:
        return "bad signature, tag, name or length in the archive";
    case kFpSizeMismatch:
        return "a file's chunks do not add up to its size";
    case kFpOverwriteRefused:
        return "an existing file was not replaced";
    default:
        return "unknown error";
    }
}

std::string SystemReason(DWORD error) {
    char text[512];
    const size_t n = SystemMessage(error, text, sizeof text);
    char number[32];
    snprintf(number, sizeof number, "error %lu", static_cast<unsigned long>(error));
    if (n == 0)
        return number;
    return std::string(text, n) + " (" + number + ")";
}

void Complain(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    PrintLine("fpack: ", format, arguments);
    va_end(arguments);
}

void Warn(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    PrintLine("fpack: warning: ", format, arguments);
    va_end(arguments);
}
