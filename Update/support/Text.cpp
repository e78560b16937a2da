#include "Text.h"

#include <limits.h>

bool ToWide(const char* text, size_t length, std::wstring& wide, UINT codePage,
            Conversion conversion) {
    wide.clear();
    if (length == 0)
        return true;
    if (length > INT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const DWORD flags = conversion == Conversion::kStrict ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(codePage, flags, text, static_cast<int>(length), nullptr, 0);
    if (n <= 0)
        return false;
    wide.resize(static_cast<size_t>(n));
    return MultiByteToWideChar(codePage, flags, text, static_cast<int>(length), &wide[0], n) == n;
}

bool FromWide(const wchar_t* wide, size_t length, std::string& text, UINT codePage,
              Conversion conversion) {
    text.clear();
    if (length == 0)
        return true;
    if (length > INT_MAX) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    // UTF-8 and UTF-7 take neither the flag nor the question.
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const bool strict = conversion == Conversion::kStrict && !unicode;
    const DWORD flags = strict ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL lossy = FALSE;
    BOOL* lost = strict ? &lossy : nullptr;
    const int n = WideCharToMultiByte(codePage, flags, wide, static_cast<int>(length), nullptr, 0,
                                      nullptr, lost);
    if (n <= 0)
        return false;
    text.resize(static_cast<size_t>(n));
    if (WideCharToMultiByte(codePage, flags, wide, static_cast<int>(length), &text[0], n, nullptr,
                            lost) != n)
        return false;
    if (lossy) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    return true;
}
