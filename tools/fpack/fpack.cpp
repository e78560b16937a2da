// fpack: the command-line front end of the Folder Pack writer and unpacker.
//   fpack c ARCHIVE SRCDIR [--time FILETIME]
//   fpack l ARCHIVE
//   fpack t ARCHIVE
//   fpack x ARCHIVE DESTDIR [--no-overwrite]
#include "pack/FolderPack.h"
#include "pack/FolderPackReader.h"
#include "pack/FolderPackWriter.h"
#include "LongPath.h"
#include "Owners.h"

#include <windows.h>
#include <algorithm>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

constexpr int kExitUsage = 64;
constexpr int kExitFailure = 1;
// Attribute bits that a record carries; the rest describe storage.
constexpr DWORD kKeptAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

int Usage() {
    fprintf(stderr, "usage: fpack c ARCHIVE SRCDIR [--time FILETIME]\n"
                    "       fpack l ARCHIVE\n"
                    "       fpack t ARCHIVE\n"
                    "       fpack x ARCHIVE DESTDIR [--no-overwrite]\n");
    return kExitUsage;
}

const char* ResultText(int code) {
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

int Fail(int code) {
    fprintf(stderr, "fpack: error %d: %s\n", code, ResultText(code));
    return -code;
}

// ---- c ----

struct Entry {
    std::string name; // relative, backslashes, code page of the system
    bool folder;
    DWORD attributes;
    FILETIME creationTime;
    FILETIME lastWriteTime;
};

bool ToWideLongForm(const std::string& path, std::wstring& wide) {
    std::vector<char> text(kLongFormBytes);
    if (!BuildLongFormText(path.c_str(), text.data(), text.size()))
        return false;
    wide.resize(kLongFormWideUnits);
    int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), -1, &wide[0], static_cast<int>(wide.size()));
    if (n == 0)
        return false;
    wide.resize(n - 1);
    return true;
}

// Lists a folder's entries in byte order of their names, each folder after
// its own contents, so that unpacking stamps it last.
bool Collect(const std::string& root, const std::string& relative, std::vector<Entry>& out) {
    std::string folder = relative.empty() ? root : root + "\\" + relative;
    std::wstring pattern;
    if (!ToWideLongForm(folder + "\\*", pattern)) {
        fprintf(stderr, "fpack: path too long: %s\n", folder.c_str());
        return false;
    }
    std::vector<Entry> here;
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(FindFirstFileW(pattern.c_str(), &found));
    if (!find.IsValid()) {
        fprintf(stderr, "fpack: cannot read folder: %s\n", folder.c_str());
        return false;
    }
    do {
        if (wcscmp(found.cFileName, L".") == 0 || wcscmp(found.cFileName, L"..") == 0)
            continue;
        char name[MAX_PATH * 2 + 1];
        BOOL lossy = FALSE;
        int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, found.cFileName, -1, name,
                                    sizeof name, nullptr, &lossy);
        if (n == 0 || lossy) {
            fprintf(stderr, "fpack: name not representable in the ANSI code page in %s\n",
                    folder.c_str());
            return false;
        }
        Entry e;
        e.name = relative.empty() ? std::string(name) : relative + "\\" + name;
        e.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.attributes = found.dwFileAttributes & kKeptAttributes;
        e.creationTime = found.ftCreationTime;
        e.lastWriteTime = found.ftLastWriteTime;
        here.push_back(e);
    } while (FindNextFileW(find.Get(), &found));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        fprintf(stderr, "fpack: cannot read folder: %s\n", folder.c_str());
        return false;
    }
    std::sort(here.begin(), here.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& e : here) {
        if (e.folder && !Collect(root, e.name, out))
            return false;
        out.push_back(e);
    }
    return true;
}

bool ParseFileTime(const char* text, FILETIME& time) {
    if (text[0] < '0' || text[0] > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = strtoull(text, &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return true;
}

int Create(int argc, char** argv) {
    if (argc != 4 && argc != 6)
        return Usage();
    bool fixedTime = false;
    FILETIME time = {};
    if (argc == 6) {
        if (strcmp(argv[4], "--time") != 0 || !ParseFileTime(argv[5], time))
            return Usage();
        fixedTime = true;
    }
    std::string root = argv[3];
    while (root.size() > 1 && (root.back() == '\\' || root.back() == '/') &&
           !(root.size() == 3 && root[1] == ':'))
        root.pop_back();
    const DWORD rootAttributes = GetFileAttributesLong(root.c_str());
    if (rootAttributes == INVALID_FILE_ATTRIBUTES || !(rootAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        fprintf(stderr, "fpack: not a folder: %s\n", root.c_str());
        return kExitFailure;
    }
    std::vector<Entry> entries;
    if (!Collect(root, "", entries))
        return kExitFailure;

    // An archive written into the folder itself does not pack itself.
    char archiveFull[MAX_PATH * 4];
    if (GetFullPathNameA(argv[2], sizeof archiveFull, archiveFull, nullptr) == 0)
        archiveFull[0] = '\0';
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const Entry& e) {
                                     char full[MAX_PATH * 4];
                                     const std::string path = root + "\\" + e.name;
                                     return !e.folder &&
                                            GetFullPathNameA(path.c_str(), sizeof full, full,
                                                             nullptr) != 0 &&
                                            _stricmp(full, archiveFull) == 0;
                                 }),
                  entries.end());

    FolderPackWriter writer;
    if (!writer.CreateArchiveFile(argv[2])) {
        fprintf(stderr, "fpack: cannot create archive: %s\n", argv[2]);
        return kExitFailure;
    }
    for (const Entry& e : entries) {
        const FILETIME creation = fixedTime ? time : e.creationTime;
        const FILETIME lastWrite = fixedTime ? time : e.lastWriteTime;
        bool ok;
        if (e.folder) {
            ok = writer.AddFolder(e.name.c_str(), e.attributes, creation, lastWrite);
        } else {
            const std::string source = root + "\\" + e.name;
            ok = writer.AddFileFromPath(e.name.c_str(), e.attributes, creation, lastWrite,
                                        source.c_str());
        }
        if (!ok) {
            fprintf(stderr, "fpack: cannot add %s\n", e.name.c_str());
            writer.Finish();
            DeleteFileLong(argv[2]);
            return kExitFailure;
        }
    }
    if (!writer.Finish()) {
        fprintf(stderr, "fpack: cannot write archive: %s\n", argv[2]);
        DeleteFileLong(argv[2]);
        return kExitFailure;
    }
    return 0;
}

// ---- l and t ----

struct Totals {
    int32_t files = 0;
    int32_t folders = 0;
    uint64_t bytes = 0;
    uint64_t chunks = 0;
    uint64_t stored = 0;
    uint64_t compressed = 0;
    uint64_t chunkData = 0;
};

std::string TimeText(FILETIME time) {
    SYSTEMTIME st;
    char text[64];
    if (FileTimeToSystemTime(&time, &st))
        snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02uZ", st.wYear, st.wMonth, st.wDay,
                 st.wHour, st.wMinute, st.wSecond);
    else
        snprintf(text, sizeof text, "%llu",
                 (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return text;
}

void PrintRecord(const char* kind, DWORD attributes, uint64_t size, uint32_t chunks,
                 uint32_t stored, uint32_t compressed, FILETIME created, FILETIME written,
                 const char* name) {
    printf("%-4s %08lX %12llu %6u %6u/%-6u %s %s %s\n", kind,
           static_cast<unsigned long>(attributes), static_cast<unsigned long long>(size), chunks,
           stored, compressed, TimeText(created).c_str(), TimeText(written).c_str(), name);
}

// The records are read by the unpacker's own reader. The prefix is the
// shortest one any destination gives (one backslash), so that t refuses
// every name that x would refuse wherever it unpacks.
constexpr char kShortestPrefix[] = "\\";
int WalkFile(ArchiveReader& reader, bool inflate, bool print, std::vector<char>& buffer,
             Totals& totals) {
    std::vector<char> name(kFpPathBufferSize);
    RecordHead head;
    int r = ReadRecordHead(reader, true, kShortestPrefix, name.data(), head);
    if (r != kFpOk)
        return r;
    uint64_t produced = 0;
    uint32_t chunks = 0, stored = 0, compressed = 0;
    for (;;) {
        uint32_t tag;
        if (!reader.ReadValue(tag))
            return kFpTruncated;
        if (tag == kFpTagEnd)
            break;
        if (tag != kFpTagChunk)
            return kFpBadFormat;
        uint32_t dataLength, originalLength;
        r = ReadChunkHead(reader, dataLength, originalLength);
        if (r != kFpOk)
            return r;
        if (!reader.Read(buffer.data(), dataLength))
            return kFpTruncated;
        if (dataLength == originalLength) {
            ++stored;
        } else {
            ++compressed;
            if (inflate) {
                HeapBlock content(InflateChunk(buffer.data(), dataLength, originalLength));
                if (!content.IsValid())
                    return kFpWriteFailed;
            }
        }
        ++chunks;
        produced += originalLength;
        totals.chunkData += dataLength;
    }
    if (produced != head.originalSize)
        return kFpSizeMismatch;
    uint32_t trailer;
    if (!reader.ReadValue(trailer))
        return kFpTruncated;
    if (print)
        PrintRecord("FILE", head.attributes, head.originalSize, chunks, stored, compressed,
                    head.creationTime, head.lastWriteTime, name.data() + 1);
    ++totals.files;
    totals.bytes += head.originalSize;
    totals.chunks += chunks;
    totals.stored += stored;
    totals.compressed += compressed;
    return kFpOk;
}

int WalkFolder(ArchiveReader& reader, bool print, Totals& totals) {
    std::vector<char> name(kFpPathBufferSize);
    RecordHead head;
    const int r = ReadRecordHead(reader, false, kShortestPrefix, name.data(), head);
    if (r != kFpOk)
        return r;
    uint32_t tag, trailer;
    if (!reader.ReadValue(tag))
        return kFpTruncated;
    if (tag != kFpTagEnd)
        return kFpBadFormat;
    if (!reader.ReadValue(trailer))
        return kFpTruncated;
    if (print)
        PrintRecord("FLDR", head.attributes, 0, 0, 0, 0, head.creationTime, head.lastWriteTime,
                    name.data() + 1);
    ++totals.folders;
    return kFpOk;
}

int Walk(const char* path, bool inflate, bool print) {
    if (GetFileAttributesLong(path) == INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "fpack: archive not found: %s\n", path);
        return -kFpOpenFailed;
    }
    UniqueHandle h(CreateFileLong(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!h.IsValid())
        return Fail(kFpOpenFailed);
    HeapBlock readAhead(malloc(kFpReadAheadSize));
    ArchiveReader reader(h.Get(), readAhead.Bytes(), kFpReadAheadSize);
    int32_t count = 0;
    const int headerResult = ReadArchiveHeader(reader, count);
    if (headerResult != kFpOk)
        return Fail(headerResult);
    if (print)
        printf("kind attribs         size chunks stored/compr. created              written    "
               "          name\n");
    std::vector<char> buffer(kFpMaxChunkData);
    Totals totals;
    for (int32_t i = 0; i < count; ++i) {
        uint32_t tag;
        if (!reader.ReadValue(tag))
            return Fail(kFpTruncated);
        int r;
        if (tag == kFpTagFile)
            r = WalkFile(reader, inflate, print, buffer, totals);
        else if (tag == kFpTagFolder)
            r = WalkFolder(reader, print, totals);
        else
            r = kFpBadFormat;
        if (r != kFpOk) {
            fflush(stdout);
            return Fail(r);
        }
    }
    printf("total: %d records (%d files, %d folders), %llu bytes, %llu chunks (%llu stored, %llu "
           "compressed), %llu bytes of chunk data\n",
           count > 0 ? count : 0, totals.files, totals.folders,
           static_cast<unsigned long long>(totals.bytes),
           static_cast<unsigned long long>(totals.chunks),
           static_cast<unsigned long long>(totals.stored),
           static_cast<unsigned long long>(totals.compressed),
           static_cast<unsigned long long>(totals.chunkData));
    if (!print)
        printf("OK\n");
    return 0;
}

// ---- x ----

int AnswerYes(const char*) {
    return kFpAnswerYes;
}

int Extract(int argc, char** argv) {
    if (argc != 4 && argc != 5)
        return Usage();
    bool overwrite = true;
    if (argc == 5) {
        if (strcmp(argv[4], "--no-overwrite") != 0)
            return Usage();
        overwrite = false;
    }
    // The unpacker would create a missing archive as an empty file.
    if (GetFileAttributesLong(argv[2]) == INVALID_FILE_ATTRIBUTES) {
        fprintf(stderr, "fpack: archive not found: %s\n", argv[2]);
        return -kFpOpenFailed;
    }
    const int r = ExtractFolderPack(argv[3], argv[2], overwrite ? AnswerYes : nullptr, nullptr);
    if (r != kFpOk)
        return Fail(r);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || strlen(argv[1]) != 1)
        return Usage();
    switch (argv[1][0]) {
    case 'c':
        return Create(argc, argv);
    case 'l':
        return argc == 3 ? Walk(argv[2], false, true) : Usage();
    case 't':
        return argc == 3 ? Walk(argv[2], true, false) : Usage();
    case 'x':
        return Extract(argc, argv);
    default:
        return Usage();
    }
}
