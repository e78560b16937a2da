// Mutated archives: whatever the bytes say, the unpacker ends with one of its
// result codes, writes nothing outside the destination, leaves none of its new
// files behind, keeps no handle or memory from one archive to the next, and
// gives the code that the archive test (fpack t's reader) gives.
#include <gtest/gtest.h>

#include "Mbcs.h"
#include "Owners.h"
#include "PackTestUtil.h"
#include "TestSupport.h"
#include "FolderPack.h"
#include "FolderPackReader.h"
#include "FolderPackWriter.h"

#include <psapi.h>
#include <stdlib.h>
#include <string.h>
#include <set>
#include <string>
#include <vector>
#include <zlib.h>

// The run's size, from the environment: the long run (label long) sets them.
// Every run tries exactly its count, however busy the machine: a verdict
// never depends on speed.
//   PACK_MUTATION_COUNT        archives (1,500)
//   PACK_MUTATION_FPACK_EVERY  one archive in this many also goes through the
//                              real fpack t (400)
//   PACK_MUTATION_ON_TMPFS     1: the archives are unpacked on a tmpfs, where
//                              the long run's million go faster
int Setting(const char* name, int fallback) {
    const char* value = getenv(name);
    return value != nullptr && value[0] != '\0' ? atoi(value) : fallback;
}
#define PACK_MUTATION_COUNT Setting("PACK_MUTATION_COUNT", 1500)
#define PACK_MUTATION_FPACK_EVERY Setting("PACK_MUTATION_FPACK_EVERY", 400)
#define PACK_MUTATION_ON_TMPFS Setting("PACK_MUTATION_ON_TMPFS", 0)

using namespace pt;

namespace {

struct Rng {
    uint64_t x;
    uint32_t Next() {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        return static_cast<uint32_t>(x >> 16);
    }
    uint32_t Below(uint32_t n) { return n == 0 ? 0 : Next() % n; }
};

int Yes(const char*) {
    return 6;
}

// Progress values must stay consistent with the records (bytes done may pass
// the total when the chunks say more than the size).
bool g_progressBad = false;
int CheckProgress(int32_t item, int32_t count, uint64_t done, uint64_t total) {
    if (item == 0 ? count != 0 : (item < 0 || item > count || done != 0 || total != 0))
        g_progressBad = true;
    return 0;
}

std::string LargeRecord(const std::string& name);

std::vector<std::string> BaseArchives() {
    std::vector<std::string> bases;
    FILETIME t = {0x12345678, 0x01D00000};
    {
        std::string a;
        FolderPackWriter w;
        w.UseMemory(&a);
        w.SetChunkSize(700);
        const std::string text = Compressible(2000, 11), bin = Random(300, 12);
        w.AddFolder("能", 0x10, t, t);
        w.AddFile("能\\表.txt", 0x21, t, t, text.data(), text.size());
        w.AddFile("bin", 0x20, t, t, bin.data(), bin.size());
        w.AddFile("empty", 0x22, t, t, "", 0);
        w.AddFolder("a\\b", 0x12, t, t);
        w.AddFile("a\\b\\c.txt", 0x20, t, t, "hello", 5);
        w.Finish();
        bases.push_back(a);
    }
    {
        // The same file twice, and stored chunks that look compressed.
        const std::string stream = Deflate(Compressible(900, 13));
        std::string a = Header(3) + FileRecord("x.txt", Compressible(1200, 14)) +
                        FileHead("x.txt", 0x20, 0, 0, stream.size()) + StoredChunk(stream) + End() +
                        FolderRecord("f", 0x10, 0, 0);
        bases.push_back(a);
    }
    return bases;
}

// Components of every form that the unpacker refuses, and some that it takes.
const char* const kComponents[] = {"a",          "能",
                                   "ポ.txt",     "console.txt",
                                   "COM10.txt",  "x y",
                                   "..a",        "表ソ",
                                   "..",         ".",
                                   "a.",         "b ",
                                   "c. .",       "NUL",
                                   "nul.txt",    "AUX",
                                   "Con",        "COM1",
                                   "lpt9.x",     "CONIN$",
                                   "conout$ .a", "~FolderPack.tmp",
                                   "a:b",        "a/b",
                                   "a<b",        "a|b",
                                   "a?b",        "a*b",
                                   "a\"b",       "a>b",
                                   "\x01",       "\x1F",
                                   "\x94",       "x\x94",
                                   "\x94/",      "\x94.",
                                   "",           "C:"};

// A name of 1 to 3 components.
std::string RandomName(Rng& rng) {
    std::string name;
    const int n = 1 + static_cast<int>(rng.Below(3));
    for (int i = 0; i < n; ++i) {
        if (i > 0)
            name += "\\";
        name += kComponents[rng.Below(sizeof kComponents / sizeof kComponents[0])];
    }
    return name;
}

// A name that puts the whole target at the limit of the path buffer (4095
// bytes and the NUL) or a byte or two around it, perhaps ending in a lone
// lead byte or in a double-byte character across the limit.
std::string NameAtTheLimit(Rng& rng, size_t prefixLength) {
    const size_t total = 4093 + rng.Below(5);
    std::string name;
    while (prefixLength + name.size() < total)
        name += std::string(60 + rng.Below(60), 'n') + "\\";
    name.resize(total - prefixLength);
    if (name.back() == '\\')
        name.back() = 'n';
    switch (rng.Below(4)) {
    case 0:
        name.back() = '\x94';
        break;
    case 1:
        name.replace(name.size() - 2, 2, "能");
        break;
    default:
        break;
    }
    return name;
}

std::string LargeRecord(const std::string& name) {
    // 7 MiB of zeros in one compressed chunk of about 7 KiB.
    static const std::string stream = [] {
        const std::string zeros(7u << 20, '\0');
        std::string out(compressBound(static_cast<uLong>(zeros.size())), '\0');
        uLongf length = static_cast<uLongf>(out.size());
        compress2(reinterpret_cast<Bytef*>(&out[0]), &length,
                  reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uLong>(zeros.size()),
                  9);
        out.resize(length);
        return out;
    }();
    return FileHead(name, 0x20, 0, 0, 7u << 20) +
           Chunk(static_cast<uint32_t>(4 + stream.size()), 7u << 20, stream) + End();
}

// An archive of 1 to 4 records with names of every form, the limit's among
// them, and contents stored, compressed or large from small data.
std::string RandomArchive(Rng& rng, size_t prefixLength) {
    const int count = 1 + static_cast<int>(rng.Below(4));
    std::string a = Header(count);
    for (int i = 0; i < count; ++i) {
        const std::string name =
            rng.Below(8) == 0 ? NameAtTheLimit(rng, prefixLength) : RandomName(rng);
        switch (rng.Below(6)) {
        case 0:
            a += FolderRecord(name, 0x10 | rng.Below(8), 0, 0);
            break;
        case 1:
            a += rng.Below(32) == 0 ? LargeRecord(name) : FileRecord(name, "");
            break;
        case 2:
            a += FileRecord(name, Random(1 + rng.Below(2000), rng.Next()), 0x20 | rng.Below(8));
            break;
        default:
            a += FileRecord(name, Compressible(1 + rng.Below(20000), rng.Next()), 0x21);
            break;
        }
    }
    return a;
}

void Mutate(std::string& a, Rng& rng) {
    static const uint8_t bytes[] = {0, 1, 0x2E, 0x2F, 0x3A, 0x5C, 0x7F, 0x80, 0x94, 0xFF};
    static const uint32_t words[] = {0,        1,          3,          4,          5,
                                     8,        0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0x600004,
                                     0x600005, 0x100,      0xFFFF,     0x1000,     0xFF0};
    static const char* tags[] = {"FILE", "FLDR", "FPCK", "FEND"};
    static const char* names[] = {"..\\", "..", "C:\\", "\\\\", "/../", ":", "\\"};
    const int rounds = 1 + static_cast<int>(rng.Below(3));
    for (int r = 0; r < rounds && !a.empty(); ++r) {
        const size_t at = rng.Below(static_cast<uint32_t>(a.size()));
        switch (rng.Below(9)) {
        case 0:
            a[at] = static_cast<char>(a[at] ^ (1 << rng.Below(8)));
            break;
        case 1:
            a[at] = static_cast<char>(bytes[rng.Below(sizeof bytes)]);
            break;
        case 2: {
            const uint32_t v = words[rng.Below(sizeof words / sizeof words[0])];
            a.replace(at, 4, reinterpret_cast<const char*>(&v), 4);
            break;
        }
        case 3:
            a.resize(at);
            break;
        case 4:
            a.erase(at, 1 + rng.Below(16));
            break;
        case 5: {
            std::string noise;
            for (uint32_t i = 0, n = 1 + rng.Below(16); i < n; ++i)
                noise += static_cast<char>(rng.Next());
            a.insert(at, noise);
            break;
        }
        case 6:
            a.insert(at, a.substr(rng.Below(static_cast<uint32_t>(a.size())), 1 + rng.Below(64)));
            break;
        case 7:
            a.replace(at, 4, tags[rng.Below(4)], 4);
            break;
        default: {
            const char* n = names[rng.Below(sizeof names / sizeof names[0])];
            a.replace(at, strlen(n), n);
            break;
        }
        }
    }
}

struct Usage {
    DWORD handles;    // 0 where the platform does not count them
    uintptr_t probe;  // value of a fresh handle: leaked handles push it up
    SIZE_T heapBytes; // busy bytes of every heap of the process
    SIZE_T committed; // pagefile-backed (private) bytes
    SIZE_T workingSet;
};

SIZE_T BusyHeapBytes() {
    HANDLE heaps[64];
    const DWORD n = GetProcessHeaps(64, heaps);
    SIZE_T busy = 0;
    for (DWORD i = 0; i < n && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[i], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        HeapUnlock(heaps[i]);
    }
    return busy;
}

Usage TakeUsage() {
    Usage u = {};
    GetProcessHandleCount(GetCurrentProcess(), &u.handles);
    HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    u.probe = reinterpret_cast<uintptr_t>(probe);
    CloseHandle(probe);
    u.heapBytes = BusyHeapBytes();
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    u.committed = pmc.PagefileUsage;
    u.workingSet = pmc.WorkingSetSize;
    return u;
}

TEST(Mutation, MutatedArchivesEndWithAResultCodeAndStayInside) {
    // root\work\archive, root\work\dest\box\...: an escape shows in the tree of root.
    std::string root = ts::ScratchDir("mutation");
    if (PACK_MUTATION_ON_TMPFS && ts::FreeBytes("Z:\\dev\\shm\\") > (256u << 20)) {
        ts::RemoveTree(root);
        root = "Z:\\dev\\shm\\update-mutation-" + std::to_string(GetCurrentProcessId());
        ts::RemoveTree(root);
        ASSERT_TRUE(MakeDirAt(root));
    }
    const std::string work = root + "\\work";
    const std::string box = work + "\\dest\\box";
    const std::string archive = work + "\\m.fpk";
    ASSERT_TRUE(MakeDirAt(work));
    const std::vector<std::string> cRoot = ts::ListDir("C:");
    const std::vector<std::string> expectedOutside = {"work\\", "work\\dest\\", "work\\m.fpk"};

    UniqueHandle file(CreateFileA(archive.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.IsValid());
    const std::set<int> codes = {kFpOk,         kFpCreateFailed, kFpWriteFailed,
                                 kFpOpenFailed, kFpNoMemory,     kFpTruncated,
                                 kFpBadFormat,  kFpSizeMismatch, kFpOverwriteRefused};
    const std::vector<std::string> bases = BaseArchives();
    // One chunk whose original length passes the chunk buffer, from a few KiB
    // of data: rarely, as it takes long.
    const std::string large = Header(2) + LargeRecord("large.bin") + FileRecord("after", "after");
    for (const std::string& base : bases) {
        ts::RemoveTree(box);
        ASSERT_TRUE(ts::WriteBytes(archive + ".base", base));
        ASSERT_EQ(kFpOk, ExtractFolderPack(box.c_str(), (archive + ".base").c_str(), Yes, nullptr));
        DeleteFileA((archive + ".base").c_str());
    }

    Rng rng = {0x5EED1234ABCDull};
    const DWORD start = GetTickCount();
    const int count = PACK_MUTATION_COUNT;
    // Handles and memory are compared with what the process uses once the
    // first archives have warmed up its heaps and caches.
    const int warmUp = count / 5;
    ASSERT_GT(warmUp, 0);
    int iterations = 0;
    std::vector<int> seen(16, 0);
    int fpackRuns = 0;
    Usage warm = {};
    for (; iterations < count; ++iterations) {
        if (iterations == warmUp)
            warm = TakeUsage();
        // Half the archives from the generator, half from the bases, now and
        // then the large one; most then mutated.
        const uint32_t pick = rng.Below(64);
        std::string a = pick == 0   ? large
                        : pick < 32 ? RandomArchive(rng, box.size() + 1)
                                    : bases[rng.Below(static_cast<uint32_t>(bases.size()))];
        if (rng.Below(4) != 0)
            Mutate(a, rng);
        const OverwriteCallback overwrite = rng.Below(4) == 0 ? nullptr : Yes;
        int result;
        int fpackCode = -1;
        if (iterations % 16 == 0) {
            // Through the public entry point: open and close each time.
            file.Close();
            ASSERT_TRUE(ts::WriteBytes(archive, a));
            result = ExtractFolderPack(box.c_str(), archive.c_str(), overwrite, CheckProgress);
            if (iterations % PACK_MUTATION_FPACK_EVERY == 0) {
                std::string output;
                fpackCode = pt::Run(Fpack() + " t \"" + archive + "\"", output);
                ++fpackRuns;
            }
            file.Attach(CreateFileA(archive.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(file.IsValid());
        } else {
            DWORD put = 0;
            SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
            ASSERT_TRUE(
                WriteFile(file.Get(), a.data(), static_cast<DWORD>(a.size()), &put, nullptr));
            ASSERT_TRUE(SetEndOfFile(file.Get()));
            SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
            result = ExtractFolderPackHandle(box.c_str(), file.Get(), overwrite, CheckProgress);
        }
        if (codes.count(result) == 0 || g_progressBad) {
            ts::WriteBytes(root + "-failure.fpk", a);
            FAIL() << "iteration " << iterations << " result " << result
                   << " progress bad: " << g_progressBad;
        }
        // The archive test reads what x reads and refuses what x refuses,
        // unless the disk stopped x first.
        SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
        const int tested =
            TestFolderPackHandle(file.Get(), box.c_str(), ChunkCheck::kInflate, nullptr, nullptr);
        if (result != kFpCreateFailed && result != kFpOverwriteRefused && result != tested) {
            ts::WriteBytes(root + "-failure.fpk", a);
            FAIL() << "iteration " << iterations << ": x " << result << ", test " << tested;
        }
        if (fpackCode != -1) {
            SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN);
            const int anywhere =
                TestFolderPackHandle(file.Get(), nullptr, ChunkCheck::kInflate, nullptr, nullptr);
            if (fpackCode != -anywhere) {
                ts::WriteBytes(root + "-failure.fpk", a);
                FAIL() << "iteration " << iterations << ": fpack t exits " << fpackCode << ", test "
                       << anywhere;
            }
        }
        ++seen[-result];
        if (iterations % 128 == 127) {
            std::vector<std::string> outside;
            for (const std::string& e : Tree(root)) {
                if (e.compare(0, 10, "work\\dest\\") != 0 || e == "work\\dest\\")
                    outside.push_back(e);
                // Every new file either took its target's place or went again.
                const char* separator = MbcsFindLast(e.c_str(), e.size(), '\\');
                ASSERT_NE(
                    0, _stricmp(separator != nullptr ? separator + 1 : e.c_str(), kFpNewFileName))
                    << e << " at iteration " << iterations;
            }
            ASSERT_EQ(expectedOutside, outside) << "iteration " << iterations;
            ts::RemoveTree(box);
        }
    }
    file.Close();
    ts::RemoveTree(box);
    const Usage end = TakeUsage();

    printf("%d mutated archives in %lu ms (%d also through fpack t); results:", iterations,
           static_cast<unsigned long>(GetTickCount() - start), fpackRuns);
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i] != 0)
            printf(" %d:%d", -static_cast<int>(i), seen[i]);
    printf("\nhandles %lu -> %lu, probe handle %#llx -> %#llx, heap %lu -> %lu KiB, committed "
           "%lu -> %lu KiB, working set %lu -> %lu KiB\n",
           warm.handles, end.handles, static_cast<unsigned long long>(warm.probe),
           static_cast<unsigned long long>(end.probe),
           static_cast<unsigned long>(warm.heapBytes / 1024),
           static_cast<unsigned long>(end.heapBytes / 1024),
           static_cast<unsigned long>(warm.committed / 1024),
           static_cast<unsigned long>(end.committed / 1024),
           static_cast<unsigned long>(warm.workingSet / 1024),
           static_cast<unsigned long>(end.workingSet / 1024));
    EXPECT_GT(fpackRuns, 0);
    // Most mutations must get past the header, or the test tests little.
    EXPECT_GT(seen[0] + seen[1] + seen[2] + seen[10] + seen[11], iterations / 10);
    EXPECT_LE(end.handles, warm.handles + 2);
    EXPECT_LE(end.probe, warm.probe + 8);
    EXPECT_LT(end.heapBytes, warm.heapBytes + (1u << 20));
    EXPECT_LT(end.committed, warm.committed + (8u << 20));
    EXPECT_LT(end.workingSet, warm.workingSet + (8u << 20));
    EXPECT_EQ(cRoot, ts::ListDir("C:"));
    EXPECT_EQ(expectedOutside, Tree(root));
    ts::RemoveTree(root);
}

} // namespace
