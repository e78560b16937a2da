#include "PackTestUtil.h"

#include "Owners.h"
#include "TestSupport.h"

#include <algorithm>
#include <string.h>
#include <zlib.h>

namespace pt {

std::string U16(uint16_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 2);
}
std::string U32(uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
}
std::string U64(uint64_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 8);
}

std::string Header(int32_t count, uint32_t headerValue) {
    return std::string("Folder Pack\0", 12) + U32(headerValue) + U32(static_cast<uint32_t>(count));
}

std::string FileHead(const std::string& name, uint32_t attributes, uint64_t creation,
                     uint64_t lastWrite, uint64_t size, bool countNul) {
    std::string n = countNul ? name + std::string(1, '\0') : name;
    return "FILE" + U64(0) + U32(static_cast<uint32_t>(n.size())) + n + U16(0) + U32(attributes) +
           U64(creation) + U64(lastWrite) + U64(size);
}

std::string Chunk(uint32_t chunkLength, uint32_t originalLength, const std::string& data) {
    return "FPCK" + U32(chunkLength) + U32(originalLength) + data;
}

std::string StoredChunk(const std::string& content) {
    return Chunk(static_cast<uint32_t>(4 + content.size()), static_cast<uint32_t>(content.size()),
                 content);
}

std::string Deflate(const std::string& content) {
    std::string out(compressBound(content.size()), '\0');
    uLongf n = out.size();
    compress2(reinterpret_cast<Bytef*>(&out[0]), &n, reinterpret_cast<const Bytef*>(content.data()),
              content.size(), 1);
    out.resize(n);
    return out;
}

std::string CompressedChunk(const std::string& content) {
    std::string stream = Deflate(content);
    return Chunk(static_cast<uint32_t>(4 + stream.size()), static_cast<uint32_t>(content.size()),
                 stream);
}

std::string End() {
    return "FEND" + U32(0);
}

std::string FolderRecord(const std::string& name, uint32_t attributes, uint64_t creation,
                         uint64_t lastWrite) {
    std::string n = name + std::string(1, '\0');
    return "FLDR" + U32(0) + U32(static_cast<uint32_t>(n.size())) + n + U16(0) + U32(attributes) +
           U64(creation) + U64(lastWrite) + End();
}

std::string FileRecord(const std::string& name, const std::string& content, uint32_t attributes,
                       uint64_t time) {
    std::string r = FileHead(name, attributes, time, time, content.size());
    if (!content.empty()) {
        std::string stream = Deflate(content);
        r += stream.size() < content.size() ? CompressedChunk(content) : StoredChunk(content);
    }
    return r + End();
}

std::string Compressible(size_t n, unsigned seed) {
    std::string s;
    s.reserve(n);
    unsigned x = seed;
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        char line[64];
        snprintf(line, sizeof line, "line %u of the text, value %u\r\n", (x >> 8) % 1000,
                 (x >> 4) % 97);
        s += line;
    }
    s.resize(n);
    return s;
}

std::string Random(size_t n, unsigned seed) {
    std::string s(n, '\0');
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        s[i] = static_cast<char>(x >> 24);
    }
    return s;
}

std::wstring Wide(const std::string& path) {
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &w[0], n);
    w.resize(n - 1);
    return L"\\\\?\\" + w;
}

bool WriteFileAt(const std::string& path, const std::string& data) {
    UniqueHandle h(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD put = 0;
    return h.IsValid() &&
           WriteFile(h.Get(), data.data(), static_cast<DWORD>(data.size()), &put, nullptr) &&
           put == data.size();
}

bool ReadFileAt(const std::string& path, std::string& data) {
    data.clear();
    UniqueHandle h(CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, 0, nullptr));
    if (!h.IsValid())
        return false;
    std::vector<char> buffer(1 << 20);
    DWORD got = 0;
    while (ReadFile(h.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0)
        data.append(buffer.data(), got);
    return true;
}

DWORD AttributesAt(const std::string& path) {
    return GetFileAttributesW(Wide(path).c_str());
}

bool ExistsAt(const std::string& path) {
    return AttributesAt(path) != INVALID_FILE_ATTRIBUTES;
}

uint64_t LastWriteAt(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &d))
        return 0;
    return (static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
           d.ftLastWriteTime.dwLowDateTime;
}

bool MakeDirAt(const std::string& path) {
    for (size_t i = 3; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\') {
            // Stepping over double-byte characters: 0x5C may be a trail byte.
            CreateDirectoryW(Wide(path.substr(0, i)).c_str(), nullptr);
        } else if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
        }
    }
    DWORD a = AttributesAt(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {
void Walk(const std::string& root, const std::string& relative, std::vector<std::string>& out) {
    std::string folder = relative.empty() ? root : root + "\\" + relative;
    WIN32_FIND_DATAW fd;
    UniqueFindHandle h(FindFirstFileW((Wide(folder) + L"\\*").c_str(), &fd));
    if (!h.IsValid())
        return;
    do {
        if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0)
            continue;
        char name[MAX_PATH * 2];
        WideCharToMultiByte(CP_ACP, 0, fd.cFileName, -1, name, sizeof name, nullptr, nullptr);
        std::string rel = relative.empty() ? std::string(name) : relative + "\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(rel + "\\");
            Walk(root, rel, out);
        } else {
            out.push_back(rel);
        }
    } while (FindNextFileW(h.Get(), &fd));
}
} // namespace

std::vector<std::string> Tree(const std::string& root) {
    std::vector<std::string> out;
    Walk(root, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

uint64_t Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

int Run(const std::string& commandLine, std::string& output, DWORD timeoutMs) {
    output.clear();
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return -1;
    UniqueHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &si, &pi))
        return -1;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    writer.Close();
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(reader.Get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        output.append(buffer, got);
    if (WaitForSingleObject(pi.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 99);
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return static_cast<int>(code);
}

std::string Fpack() {
    return "\"" + ts::BuildFile("tools/fpack/fpack.exe") + "\"";
}

} // namespace pt
