// Text of a code page as UTF-16 and back: the one converter of the program
// and its tools.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <string>

// kStrict: a byte sequence that does not decode, or a character the code
// page cannot hold, is a failure (ERROR_NO_UNICODE_TRANSLATION) instead of
// being replaced.
enum class Conversion { kLenient, kStrict };

// The length bytes of text (its NUL not among them) as UTF-16 in wide. False
// with the system's last error when they do not convert.
bool ToWide(const char* text, size_t length, std::wstring& wide, UINT codePage = CP_ACP,
            Conversion conversion = Conversion::kLenient);
inline bool ToWide(const std::string& text, std::wstring& wide, UINT codePage = CP_ACP,
                   Conversion conversion = Conversion::kLenient) {
    return ToWide(text.data(), text.size(), wide, codePage, conversion);
}

// The length UTF-16 units of wide as bytes of the code page in text. False
// with the system's last error when they do not convert.
bool FromWide(const wchar_t* wide, size_t length, std::string& text, UINT codePage = CP_ACP,
              Conversion conversion = Conversion::kLenient);
inline bool FromWide(const std::wstring& wide, std::string& text, UINT codePage = CP_ACP,
                     Conversion conversion = Conversion::kLenient) {
    return FromWide(wide.data(), wide.size(), text, codePage, conversion);
}
