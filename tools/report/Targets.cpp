#include "Targets.h"

#include "Owners.h"
#include "Text.h"

namespace {

// A list of target machines is a few hundred KiB at most.
constexpr DWORD kListMax = 16u << 20;

std::wstring Decode(const std::string& bytes) {
    std::wstring text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return text;
    }
    const size_t from = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    // UTF-8 when it is that throughout, else the ANSI code page.
    if (!ToWide(bytes.data() + from, bytes.size() - from, text, CP_UTF8, Conversion::kStrict))
        ToWide(bytes.data() + from, bytes.size() - from, text);
    return text;
}

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == 0x3000;
}

std::vector<std::wstring> ParseTargets(const std::string& bytes) {
    const std::wstring text = Decode(bytes);
    std::vector<std::wstring> names;
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find(L'\n', at);
        if (end == std::wstring::npos)
            end = text.size();
        size_t first = at, last = end;
        while (first < last && IsBlank(text[first]))
            ++first;
        while (last > first && IsBlank(text[last - 1]))
            --last;
        if (first < last && text[first] != L'#')
            names.push_back(text.substr(first, last - first));
        at = end + 1;
    }
    return names;
}

} // namespace

bool ReadTargets(const std::wstring& path, std::vector<std::wstring>& names, DWORD& error) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size;
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size)) {
        error = GetLastError();
        return false;
    }
    if (size.QuadPart > kListMax) {
        error = ERROR_FILE_TOO_LARGE;
        return false;
    }
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!bytes.empty() &&
        (!ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &got, nullptr) ||
         got != bytes.size())) {
        error = GetLastError() != 0 ? GetLastError() : ERROR_READ_FAULT;
        return false;
    }
    names = ParseTargets(bytes);
    return true;
}
