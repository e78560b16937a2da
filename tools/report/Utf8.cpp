#include "Utf8.h"

#include <windows.h>

namespace {

constexpr UINT kLogCodePage = 932;

bool ToWide(UINT codePage, const std::string& text, std::wstring& wide) {
    wide.clear();
    if (text.empty())
        return true;
    const int n =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0)
        return false;
    wide.assign(static_cast<size_t>(n), L'\0');
    return MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                               n) == n;
}

std::string FromWide(UINT codePage, const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string text(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), &text[0], n,
                        nullptr, nullptr);
    return text;
}

} // namespace

std::string Utf8FromLog(const std::string& text) {
    std::wstring wide;
    if (!ToWide(kLogCodePage, text, wide) && !ToWide(CP_ACP, text, wide)) {
        // Without either code page: ASCII, and a replacement for the rest.
        wide.clear();
        for (char c : text)
            wide += static_cast<unsigned char>(c) < 0x80 ? static_cast<wchar_t>(c) : L'\xFFFD';
    }
    for (wchar_t& c : wide) {
        if ((c < 0x20 && c != L'\n' && c != L'\t') || c == 0x7F)
            c = L'\xFFFD';
    }
    return FromWide(CP_UTF8, wide);
}

std::string Utf8FromWide(const std::wstring& text) {
    return FromWide(CP_UTF8, text);
}

std::wstring WideFromUtf8(const std::string& text) {
    std::wstring wide;
    ToWide(CP_UTF8, text, wide);
    return wide;
}

std::string AnsiFromWide(const std::wstring& text) {
    return FromWide(CP_ACP, text);
}
