#include "Utf8.h"

#include "Text.h"

#include <windows.h>

namespace {
constexpr UINT kLogCodePage = 932;

std::string Convert(const std::wstring& wide, UINT codePage) {
    std::string text;
    FromWide(wide, text, codePage);
    return text;
}
} // namespace

std::string Utf8FromLog(const std::string& text) {
    std::wstring wide;
    if (!ToWide(text, wide, kLogCodePage) && !ToWide(text, wide)) {
        // Without either code page: ASCII, and a replacement for the rest.
        wide.clear();
        for (char c : text)
            wide += static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'\xFFFD';
    }
    for (wchar_t& c : wide) {
        if ((c < 0x20 && c != L'\n' && c != L'\t') || c == 0x7F)
            c = L'\xFFFD';
    }
    return Convert(wide, CP_UTF8);
}

std::string Utf8FromWide(const std::wstring& text) {
    return Convert(text, CP_UTF8);
}

std::wstring WideFromUtf8(const std::string& text) {
    std::wstring wide;
    ToWide(text, wide, CP_UTF8);
    return wide;
}

std::string AnsiFromWide(const std::wstring& text) {
    return Convert(text, CP_ACP);
}
