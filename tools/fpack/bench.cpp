// fpack_bench: times the unpacker against a reference that does only the
// unavoidable work (inflating the same chunks from memory, one create and
// the writes per file), against the same reference that also sets each
// file's times and attributes, and times reading the archive alone; each run
// in a fresh child process.
// Case a: four files of 64 MiB, two compressible and two not.
// Case b: 20,000 files of 0 to 8 KiB in 100 folders (200 each, grouped).
// Usage: see kUsage below, or fpack_bench --help.
#include "FolderPack.h"
#include "FolderPackWriter.h"
#include "LongPath.h"
#include "Owners.h"
#include "Text.h"

#include <windows.h>
#include <psapi.h>
#include <algorithm>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

constexpr char kUsage[] =
    "usage: fpack_bench [WORKDIR] [--case a|b|ab] [--reps N] [--over] [--against EXE] [--keep]\n"
    "Times the unpacker on two archives against a reference that only creates\n"
    "and writes the files, and one that also sets their times and attributes\n"
    "(both with the archive read beforehand, untimed: reading it alone is timed\n"
    "too); medians of N runs (default 3), each in a fresh child process.\n"
    "  WORKDIR        work folder; default Z:\\dev\\shm\\fpack-bench where that\n"
    "                 tmpfs exists (wall times on disk vary with writeback),\n"
    "                 else %TEMP%\\fpack-bench\n"
    "  --case a|b|ab  a: 4 files of 64 MiB; b: 20,000 files of 0-8 KiB (both)\n"
    "  --over         unpack over the files of an earlier unpack: every target\n"
    "                 exists and is replaced (the references write over them)\n"
    "  --against EXE  also time the unpacker of another build's fpack_bench.exe,\n"
    "                 in turn with this one, and report the ratio of the two\n"
    "  --keep         keep the work folder and its archives for the next run\n"
    "  --stamped      accepted for older command lines; the stamped reference\n"
    "                 always runs\n"
    "  -h, --help     this text\n";

int AnswerYes(const char*) {
    return kFpAnswerYes;
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b) {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(f.QuadPart);
}

void FillCompressible(std::string& s, size_t n, unsigned seed) {
    s.clear();
    s.reserve(n);
    unsigned x = seed * 2654435761u + 1;
    char line[96];
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        const int len =
            snprintf(line, sizeof line, "%08u record %u: status=%s value=%u\r\n", x >> 6,
                     (x >> 12) % 5000, (x & 64) ? "ok" : "retry", (x >> 3) % 100000);
        s.append(line, static_cast<size_t>(len));
    }
    s.resize(n);
}

void FillRandom(std::string& s, size_t n, unsigned seed) {
    s.resize(n);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 7;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        s[i] = static_cast<char>(x >> 29);
    }
}

bool RemoveTree(const std::string& path) {
    std::wstring wide;
    if (!LongFormWide(path.c_str(), wide))
        return false;
    const DWORD a = GetFileAttributesW(wide.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return true;
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileW(wide.c_str()) != FALSE;
    WIN32_FIND_DATAW fd;
    UniqueFindHandle find(FindFirstFileW((wide + L"\\*").c_str(), &fd));
    if (find.IsValid()) {
        do {
            if (wcscmp(fd.cFileName, L".") == 0 || wcscmp(fd.cFileName, L"..") == 0)
                continue;
            std::string name;
            FromWide(fd.cFileName, wcslen(fd.cFileName), name);
            RemoveTree(path + "\\" + name);
        } while (FindNextFileW(find.Get(), &fd));
    }
    find.Close();
    return RemoveDirectoryW(wide.c_str()) != FALSE;
}

// ---- archives ----

bool MakeArchiveA(const std::string& path) {
    FolderPackWriter w;
    if (!w.CreateArchiveFile(path.c_str()))
        return false;
    FILETIME t = {0, 0x01D00000};
    std::string content;
    for (int i = 0; i < 4; ++i) {
        if (i < 2)
            FillCompressible(content, 64u << 20, i + 1);
        else
            FillRandom(content, 64u << 20, i + 1);
        char name[32];
        snprintf(name, sizeof name, "large%d.bin", i);
        if (!w.AddFile(name, 0x20, t, t, content.data(), content.size()))
            return false;
    }
    return w.Finish();
}

bool MakeArchiveB(const std::string& path) {
    FolderPackWriter w;
    if (!w.CreateArchiveFile(path.c_str()))
        return false;
    FILETIME t = {0, 0x01D00000};
    std::string content;
    unsigned x = 12345;
    for (int i = 0; i < 20000; ++i) {
        x = x * 1103515245u + 12345u;
        const size_t size = (x >> 8) % 8193;
        if (i % 2 == 0)
            FillCompressible(content, size, i);
        else
            FillRandom(content, size, i);
        char name[48];
        // Grouped by folder, in the order that fpack c writes a tree.
        snprintf(name, sizeof name, "dir%02d\\file%05d.dat", i / 200, i);
        if (!w.AddFile(name, 0x20, t, t, content.data(), content.size()))
            return false;
    }
    return w.Finish();
}

// ---- children ----

struct Sample {
    double seconds = 0;
    double peakDeltaMiB = 0;
    double peakMiB = 0;
};

void PrintSample(double seconds, SIZE_T startWs) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    printf("%.6f %.3f %.3f\n", seconds,
           static_cast<double>(pmc.PeakWorkingSetSize - startWs) / 1048576.0,
           static_cast<double>(pmc.PeakWorkingSetSize) / 1048576.0);
}

SIZE_T WorkingSet() {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc.WorkingSetSize;
}

int ChildUnpack(const char* archive, const char* dest) {
    const SIZE_T startWs = WorkingSet();
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    const int r = ExtractFolderPack(dest, archive, AnswerYes, nullptr);
    QueryPerformanceCounter(&b);
    if (r != kFpOk) {
        fprintf(stderr, "unpack failed: %d\n", r);
        return 1;
    }
    PrintSample(Seconds(a, b), startWs);
    return 0;
}

// Reading the archive alone, as the unpacker reads a large chunk: the part of
// the unpacker's work that the references do before their timer starts.
int ChildRead(const char* archivePath) {
    const SIZE_T startWs = WorkingSet();
    std::vector<char> buffer(512 * 1024);
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    UniqueHandle h(CreateFileLong(archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    DWORD got = 0;
    while (h.IsValid() &&
           ReadFile(h.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0) {
    }
    h.Close();
    QueryPerformanceCounter(&b);
    PrintSample(Seconds(a, b), startWs);
    return 0;
}

struct RefChunk {
    const unsigned char* data;
    uint32_t dataLength, originalLength;
};
struct RefOp {
    std::string path;
    bool folder;
    std::vector<RefChunk> chunks;
};

// The reference: the archive parsed in memory beforehand (trusted, untimed);
// timed are the folders, one create per file, inflating and writing.
int ChildReference(const char* archivePath, const char* dest, bool stamp) {
    std::string archive;
    {
        UniqueHandle h(CreateFileLong(archivePath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size;
        if (!h.IsValid() || !GetFileSizeEx(h.Get(), &size))
            return 1;
        archive.resize(static_cast<size_t>(size.QuadPart));
        for (size_t done = 0; done < archive.size();) {
            DWORD got = 0;
            DWORD want = static_cast<DWORD>(std::min<size_t>(archive.size() - done, 1u << 24));
            if (!ReadFile(h.Get(), &archive[done], want, &got, nullptr) || got == 0)
                return 1;
            done += got;
        }
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(archive.data()) + 16;
    int32_t count;
    memcpy(&count, p, 4);
    p += 4;
    std::vector<RefOp> ops;
    std::vector<std::string> folders;
    uint32_t largest = 0;
    const std::string prefix = std::string(dest) + "\\";
    ops.push_back({std::string(dest), true, {}});
    for (int32_t i = 0; i < count; ++i) {
        uint32_t n;
        if (memcmp(p, "FLDR", 4) == 0) {
            memcpy(&n, p + 8, 4);
            ops.push_back({prefix + reinterpret_cast<const char*>(p + 12), true, {}});
            p += 12 + n + 30;
            continue;
        }
        memcpy(&n, p + 12, 4);
        RefOp op{prefix + reinterpret_cast<const char*>(p + 16), false, {}};
        const size_t slash = op.path.rfind('\\');
        const std::string folder = op.path.substr(0, slash);
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
            ops.push_back({folder, true, {}});
        }
        p += 16 + n + 30;
        while (memcmp(p, "FPCK", 4) == 0) {
            RefChunk c;
            uint32_t l;
            memcpy(&l, p + 4, 4);
            memcpy(&c.originalLength, p + 8, 4);
            c.dataLength = l - 4;
            c.data = p + 12;
            largest = std::max(largest, c.originalLength);
            op.chunks.push_back(c);
            p += 8 + l;
        }
        p += 8;
        ops.push_back(op);
    }
    std::vector<unsigned char> buffer(largest ? largest : 1);

    const SIZE_T startWs = WorkingSet();
    LARGE_INTEGER a, b;
    QueryPerformanceCounter(&a);
    for (const RefOp& op : ops) {
        if (op.folder) {
            CreateDirectoryA(op.path.c_str(), nullptr);
            continue;
        }
        UniqueHandle f(CreateFileA(op.path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f.IsValid())
            return 1;
        for (const RefChunk& c : op.chunks) {
            // (the chunks of this file)
            const void* out = c.data;
            if (c.dataLength != c.originalLength) {
                uLongf produced = c.originalLength;
                if (uncompress(buffer.data(), &produced, c.data, c.dataLength) != Z_OK)
                    return 1;
                out = buffer.data();
            }
            DWORD put;
            if (!WriteFile(f.Get(), out, c.originalLength, &put, nullptr))
                return 1;
        }
        if (stamp) {
            // What the unpacker does besides: times, then attributes by path.
            FILETIME t = {0, 0x01D00000};
            SetFileTime(f.Get(), &t, nullptr, &t);
            f.Close();
            SetFileAttributesA(op.path.c_str(), FILE_ATTRIBUTE_ARCHIVE);
        }
    }
    QueryPerformanceCounter(&b);
    // Working set of the reference includes the archive in memory: only the
    // time is compared.
    PrintSample(Seconds(a, b), startWs);
    return 0;
}

// ---- parent ----

bool RunChild(const std::string& commandLine, Sample& sample) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return false;
    UniqueHandle reader(readEnd), writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi))
        return false;
    UniqueHandle process(pi.hProcess), thread(pi.hThread);
    writer.Close();
    std::string out;
    char buf[256];
    DWORD got;
    while (ReadFile(reader.Get(), buf, sizeof buf, &got, nullptr) && got > 0)
        out.append(buf, got);
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    return code == 0 && sscanf(out.c_str(), "%lf %lf %lf", &sample.seconds, &sample.peakDeltaMiB,
                               &sample.peakMiB) == 3;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string ChildCommand(const std::string& exe, const char* mode, const std::string& archive,
                         const std::string& out) {
    return "\"" + exe + "\" --child " + mode + " \"" + archive + "\" \"" + out + "\"";
}

struct CaseOptions {
    int reps = 3;
    bool over = false;
    std::string against; // another build's fpack_bench, or empty
};

// One timed child. With --over the tree of an earlier unpack is there first.
bool TimeChild(const std::string& command, const std::string& self, const std::string& archive,
               const std::string& out, const CaseOptions& options, Sample& sample) {
    RemoveTree(out);
    if (options.over && !RunChild(ChildCommand(self, "unpack", archive, out), sample)) {
        fprintf(stderr, "fpack_bench: cannot unpack beforehand: %s\n", archive.c_str());
        return false;
    }
    if (!RunChild(command, sample)) {
        fprintf(stderr, "fpack_bench: child failed: %s\n", command.c_str());
        return false;
    }
    RemoveTree(out);
    return true;
}

bool RunCase(const char* label, const std::string& self, const std::string& archive,
             const std::string& out, const CaseOptions& options) {
    // The children in turn, each round starting with another one, so that
    // none always meets the caches that the one before it warmed.
    struct Runner {
        std::string command;
        std::vector<double> seconds, peakDelta, peak;
    };
    std::vector<Runner> runners = {{ChildCommand(self, "unpack", archive, out), {}, {}, {}},
                                   {ChildCommand(self, "reference", archive, out), {}, {}, {}},
                                   {ChildCommand(self, "stamped", archive, out), {}, {}, {}},
                                   {ChildCommand(self, "read", archive, out), {}, {}, {}}};
    if (!options.against.empty())
        runners.push_back({ChildCommand(options.against, "unpack", archive, out), {}, {}, {}});
    for (int r = 0; r < options.reps; ++r) {
        for (size_t k = 0; k < runners.size(); ++k) {
            Runner& runner = runners[(k + r) % runners.size()];
            Sample s;
            if (!TimeChild(runner.command, self, archive, out, options, s))
                return false;
            runner.seconds.push_back(s.seconds);
            runner.peakDelta.push_back(s.peakDeltaMiB);
            runner.peak.push_back(s.peakMiB);
        }
    }
    const double u = Median(runners[0].seconds), ref = Median(runners[1].seconds),
                 stamped = Median(runners[2].seconds), read = Median(runners[3].seconds);
    // The chunk buffer and a megabyte for the inflater and the reads.
    const double limit = 6.0 + 1.0;
    printf("case %s: unpacker %.3f s; reference %.3f s, ratio %.3f; reference that also sets "
           "times and attributes %.3f s, ratio %.3f (goal <= 1.05)\n",
           label, u, ref, u / ref, stamped, u / stamped);
    printf("case %s: reading the archive alone %.3f s, which the references do untimed; "
           "unpacker / (stamped reference + reading) %.3f\n",
           label, read, u / (stamped + read));
    if (!options.against.empty())
        printf("case %s: unpacker of %s %.3f s; this one takes %.3f of its time\n", label,
               options.against.c_str(), Median(runners[4].seconds), u / Median(runners[4].seconds));
    printf("case %s: unpacker peak working set +%.1f MiB over its start (%.1f MiB in all); "
           "limit %.1f MiB\n",
           label, *std::max_element(runners[0].peakDelta.begin(), runners[0].peakDelta.end()),
           *std::max_element(runners[0].peak.begin(), runners[0].peak.end()), limit);
    fflush(stdout);
    return true;
}

// A tmpfs where wall times are steady, when the platform has one.
std::string DefaultWorkFolder() {
    const DWORD shm = GetFileAttributesA("Z:\\dev\\shm");
    if (shm != INVALID_FILE_ATTRIBUTES && (shm & FILE_ATTRIBUTE_DIRECTORY))
        return "Z:\\dev\\shm\\fpack-bench";
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    return std::string(temp) + "fpack-bench";
}

int UsageError(const char* argument) {
    fprintf(stderr, "fpack_bench: unexpected argument %s (fpack_bench --help shows the usage)\n",
            argument);
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && strcmp(argv[1], "--child") == 0) {
        if (strcmp(argv[2], "unpack") == 0)
            return ChildUnpack(argv[3], argv[4]);
        if (strcmp(argv[2], "reference") == 0)
            return ChildReference(argv[3], argv[4], false);
        if (strcmp(argv[2], "stamped") == 0)
            return ChildReference(argv[3], argv[4], true);
        if (strcmp(argv[2], "read") == 0)
            return ChildRead(argv[3]);
        return 64;
    }
    std::string work;
    std::string cases = "ab";
    bool keep = false;
    CaseOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (strcmp(a, "-h") == 0 || strcmp(a, "--help") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strcmp(a, "--reps") == 0 && i + 1 < argc)
            options.reps = std::max(1, atoi(argv[++i]));
        else if (strcmp(a, "--case") == 0 && i + 1 < argc)
            cases = argv[++i];
        else if (strcmp(a, "--against") == 0 && i + 1 < argc)
            options.against = argv[++i];
        else if (strcmp(a, "--keep") == 0)
            keep = true;
        else if (strcmp(a, "--over") == 0)
            options.over = true;
        else if (strcmp(a, "--stamped") == 0)
            continue;
        else if (a[0] == '-' || !work.empty())
            return UsageError(a);
        else
            work = a;
    }
    const bool doA = cases.find('a') != std::string::npos;
    const bool doB = cases.find('b') != std::string::npos;
    if (cases.find_first_not_of("ab") != std::string::npos || (!doA && !doB))
        return UsageError(cases.c_str());
    if (work.empty())
        work = DefaultWorkFolder();
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    CreateDirectoryA(work.c_str(), nullptr);
    const std::string a = work + "\\a.fpk", b = work + "\\b.fpk", out = work + "\\out";
    RemoveTree(out);
    // --keep leaves the archives for the next run, which then reuses them.
    bool ok =
        (!doA || GetFileAttributesA(a.c_str()) != INVALID_FILE_ATTRIBUTES || MakeArchiveA(a)) &&
        (!doB || GetFileAttributesA(b.c_str()) != INVALID_FILE_ATTRIBUTES || MakeArchiveB(b));
    if (!ok)
        fprintf(stderr, "fpack_bench: cannot write the archives in %s\n", work.c_str());
    printf("work folder %s, %d runs each, medians%s\n", work.c_str(), options.reps,
           options.over ? ", over the files of an earlier unpack" : "");
    if (doA)
        ok = ok && RunCase("a (4 x 64 MiB)", self, a, out, options);
    if (doB)
        ok = ok && RunCase("b (20,000 x 0-8 KiB)", self, b, out, options);
    if (!keep)
        RemoveTree(work);
    return ok ? 0 : 1;
}
